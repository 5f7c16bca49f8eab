#pragma once

#include <QObject>

// A window's mouse-pointer value: 0 default, 11 busy hourglass, 99 the custom hand.
// Long operations set the hourglass; the hover rules and "Clear List" read it.
class MousePointer : public QObject {
    Q_OBJECT
public:
    enum Value { Default = 0, Hourglass = 11, Custom = 99 };

    explicit MousePointer(QObject* parent = nullptr)
        : QObject(parent)
    {
    }

    int value() const { return m_value; }
    bool isBusy() const { return m_value == Hourglass; }
    void set(int value)
    {
        if (m_value == value)
            return;
        m_value = value;
        Q_EMIT changed(value);
    }
    // The hover rule: move to `value` unless the hourglass is showing.
    void hover(int value)
    {
        if (!isBusy())
            set(value);
    }

Q_SIGNALS:
    void changed(int value);

private:
    int m_value = Default;
};
