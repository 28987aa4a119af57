#pragma once
// A window owning one of the core's components, as it owns its child widgets: the
// component is freed with the window, and may still be freed first.
class QObject;
class TComponent;

void OwnComponent(QObject* owner, TComponent* component);
