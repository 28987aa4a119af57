#pragma once
// Nearest integer, halves to the even neighbour (the windows' layout rounds so).
int RoundHalfEven(double value);
