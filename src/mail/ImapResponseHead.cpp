#include "mail/ImapResponseHead.h"

#include "mail/ImapResponseReader.h"
#include "mail/ImapValue.h"

ImapResponseHead ImapResponseHead::read(ImapResponseReader& reader)
{
    ImapResponseHead head;
    head.tag = reader.readAtom();
    reader.skipSpaces();
    QByteArray word = reader.readAtom();
    ImapValue asValue;
    asValue.kind = ImapValue::Kind::Atom;
    asValue.text = word;
    if (head.tag == "*" && asValue.number() >= 0) {
        head.number = asValue.number();
        reader.skipSpaces();
        word = reader.readAtom();
    }
    head.word = word.toUpper();
    reader.skipSpaces();
    return head;
}
