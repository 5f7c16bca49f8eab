#pragma once

#include <QString>

// The text a browser shows for an HTML body, for mail that has no text/plain part: the visible
// text (no head, style, script, comments or elements hidden with display:none), block elements,
// table rows, list items and <br> as line breaks (a blank line around paragraphs and headings),
// entities decoded, runs of white space shown as one space, preformatted text kept as written,
// link texts kept. Line breaks are CR LF, as in a text/plain part. The HTML is read by libxml2's
// HTML parser, which recovers from broken markup as browsers do.
class HtmlText {
public:
    // `html` is the part already decoded to Unicode; a charset the document declares inside
    // itself is not applied again.
    static QString fromHtml(const QString& html);
};
