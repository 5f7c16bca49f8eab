#pragma once

#include <QByteArray>
#include <QList>

// One value of a server response: an atom (numbers, flags, keywords and section names such as
// BODY[] included), a string (quoted or literal, already unescaped), NIL, or a parenthesised
// list of values.
struct ImapValue {
    enum class Kind { Atom, String, Nil, List };

    Kind kind = Kind::Nil;
    QByteArray text;         // atom or string contents
    QList<ImapValue> items;  // list members

    bool isAtom() const { return kind == Kind::Atom; }
    bool isString() const { return kind == Kind::String; }
    bool isNil() const { return kind == Kind::Nil; }
    bool isList() const { return kind == Kind::List; }
    // Atoms and strings both carry text where an astring is allowed (a mailbox name, say).
    bool isAString() const { return isAtom() || isString(); }
    // The atom's text as a number, or -1 when it is not a plain unsigned number.
    qint64 number() const;
};
