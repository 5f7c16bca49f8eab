#pragma once

#include "mail/ImapValue.h"

#include <QByteArray>
#include <QList>

#include <optional>

// A message's MIME structure as the server describes it in a BODYSTRUCTURE item, and the parts
// of it that become the message object's bodies.
//
// Reading accepts what servers send in the wild: type names in any case, parameter lists or NIL,
// extension data in full, in part or not at all (BODY, and servers that leave it out). What does
// not follow the grammar is refused as a whole: the caller then reads the message whole.
class ImapBodyStructure {
public:
    struct Part {
        QByteArray section;  // "1", "2.1"...; empty for the whole message
        QByteArray type;     // lower case: "text", "multipart", "message"...
        QByteArray subtype;  // lower case
        QByteArray charset;  // as sent, empty when none
        QByteArray encoding; // lower case, empty when NIL
        qint64 size = 0;     // octets of the body as stored (encoded); multiparts: their parts' sum
        // The disposition's type in lower case ("attachment", "inline"), empty when the part has
        // none; only meaningful when dispositionKnown (the server sent that much extension data).
        QByteArray disposition;
        bool dispositionKnown = false;
        QList<Part> parts; // a multipart's parts, in order

        bool isMultipart() const { return type == "multipart"; }
    };

    // The bodies a message object takes: the first text/plain and the first text/html part that
    // are not attachments, looking into nested multiparts but never into an attached message.
    // Null where the message has none.
    struct Bodies {
        const Part* plain = nullptr;
        const Part* html = nullptr;
        bool htmlFirst = false; // the HTML part stands before the plain one
    };

    static std::optional<ImapBodyStructure> read(const ImapValue& value);

    const Part& root() const { return m_root; }
    // The bodies, or nothing when the structure does not tell (a text part whose disposition the
    // server left out comes before them).
    std::optional<Bodies> bodies() const;

    // The sections worth fetching with the header instead of the whole message of `messageSize`
    // octets: those of the bodies (none when it has none), when everything else (attachments,
    // mostly) comes to more than `smallRest` octets. Nothing when the whole message is the better
    // fetch, or the bodies are not known.
    std::optional<QList<QByteArray>> sectionsToFetch(qint64 messageSize, qint64 smallRest) const;

    // The stored bytes of the parts with these sections.
    qint64 bytesOf(const QList<QByteArray>& sections) const;

private:
    Part m_root;
};
