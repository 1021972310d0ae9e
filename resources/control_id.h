// Controls of the window templates are addressed by their numeric id, kept in each widget's
// dynamic property "controlId".
#pragma once

#include <QHash>
#include <QWidget>

inline constexpr char kControlIdProperty[] = "controlId";

// The control with `id` among the descendants of `root`, or null. Ids are unique within a
// template except -1, which several labels share; for -1 the first one is returned.
QWidget* FindControl(const QWidget* root, int id);

template <typename T>
T* FindControlAs(const QWidget* root, int id) {
    return qobject_cast<T*>(FindControl(root, id));
}

// Every control under `root` by its id (the first one for an id that repeats), in one pass:
// cheaper than FindControl for each of many ids.
QHash<int, QWidget*> ControlsById(const QWidget* root);

// The id of `widget`, or 0 when it has none.
int ControlId(const QObject* widget);
