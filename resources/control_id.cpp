#include "resources/control_id.h"

#include <QVariant>

QWidget* FindControl(const QWidget* root, int id) {
    if (root == nullptr)
        return nullptr;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QVariant v = w->property(kControlIdProperty);
        if (v.isValid() && v.toInt() == id)
            return w;
    }
    return nullptr;
}

QHash<int, QWidget*> ControlsById(const QWidget* root) {
    QHash<int, QWidget*> controls;
    if (root == nullptr)
        return controls;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QVariant v = w->property(kControlIdProperty);
        if (v.isValid() && !controls.contains(v.toInt()))
            controls.insert(v.toInt(), w);
    }
    return controls;
}

int ControlId(const QObject* widget) {
    if (widget == nullptr)
        return 0;
    const QVariant v = widget->property(kControlIdProperty);
    return v.isValid() ? v.toInt() : 0;
}
