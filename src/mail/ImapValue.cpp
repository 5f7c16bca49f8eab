#include "mail/ImapValue.h"

qint64 ImapValue::number() const
{
    if (kind != Kind::Atom || text.isEmpty() || text.size() > 18)
        return -1;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    return text.toLongLong();
}
