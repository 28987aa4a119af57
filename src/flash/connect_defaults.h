#pragma once
// The connect strings a flash controller starts with, and a job takes when it names none
// (%xx escapes as stored).
inline constexpr const char* DefaultBootConnect = "SyNcBoOt";
inline constexpr const char* DefaultUserConnect = "%02XM5281%03";
inline constexpr const char* DefaultConnectResponse = "SyNcBoOt";
