#pragma once

#include <QString>

// The application title: the caption of every message box that names no title of its own.
// It starts as the product display name and is shortened once during start-up.
class AppTitle {
public:
    static const QString& productName();
    static QString current();
    static void set(const QString& title);

    // Drop the last word once, then keep dropping words while the text is longer than 40
    // characters. A name without a space has no word to drop and stays whole.
    static QString shortened(const QString& displayName);
    static void shorten();  // ShortenAppTitle
};
