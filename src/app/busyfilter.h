#pragma once

#include <QObject>

// Swallows mouse button and key events while the wizard is busy; everything else passes.
class cBusyFilter : public QObject
{
public:
    using QObject::QObject;
    ~cBusyFilter() override = default;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
