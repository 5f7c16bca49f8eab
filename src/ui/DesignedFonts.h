#pragma once

#include <QFont>

// The windows' designed fonts: Arial 9 pt bold for a window and its controls, Arial 11.25 pt
// bold for push-button captions.
inline QFont windowFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9);
    font.setBold(true);
    return font;
}

inline QFont buttonFont()
{
    QFont font = windowFont();
    font.setPointSizeF(11.25);
    return font;
}
