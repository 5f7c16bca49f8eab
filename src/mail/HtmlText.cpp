#include "mail/HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool nameIs(const xmlNode* node, const char* name)
{
    return xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

bool nameIn(const xmlNode* node, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(), [&](const char* name) { return nameIs(node, name); });
}

// Elements whose content a browser never shows in the page.
bool isInvisible(const xmlNode* node)
{
    return nameIn(node, {"head", "title", "style", "script", "template", "meta", "link", "object", "iframe"});
}

// Elements that start on a line of their own, with a blank line around them.
bool isParagraph(const xmlNode* node)
{
    return nameIn(node, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "pre", "dl", "table"});
}

// Elements that start on a line of their own.
bool isBlock(const xmlNode* node)
{
    return nameIn(node, {"address", "article",  "aside",      "center", "dd",      "details", "dialog", "div",
                         "dt",      "fieldset", "figcaption", "figure", "footer",  "form",    "header", "hr",
                         "li",      "main",     "nav",        "ol",     "section", "summary", "tr",     "ul",
                         "caption", "thead",    "tbody",      "tfoot",  "body",    "html"});
}

// hidden="", or an inline style that contains display:none (newsletters hide their preview
// line this way).
bool isHidden(const xmlNode* node)
{
    if (xmlHasProp(node, reinterpret_cast<const xmlChar*>("hidden")))
        return true;
    xmlChar* style = xmlGetProp(node, reinterpret_cast<const xmlChar*>("style"));
    if (!style)
        return false;
    std::string compact;
    for (const xmlChar* c = style; *c; ++c)
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n')
            compact += char(*c >= 'A' && *c <= 'Z' ? *c + ('a' - 'A') : *c);
    xmlFree(style);
    return compact.find("display:none") != std::string::npos;
}

bool isCollapsible(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Collects the shown text in UTF-8. Line breaks that blocks ask for are held back until the
// next visible text, so blocks without text and the ends of the body leave no empty lines.
class TextWriter {
public:
    void text(const char* utf8, bool preformatted)
    {
        for (const char* c = utf8; *c; ++c) {
            if (preformatted) {
                if (*c == '\r')
                    continue;
                if (*c == '\n') {
                    lineBreak();
                    continue;
                }
            } else if (isCollapsible(*c)) {
                m_space = !atLineStart();
                continue;
            }
            visible();
            m_out += *c;
        }
    }

    // <br>: a line break of its own, even on an empty line.
    void lineBreak()
    {
        if (m_out.empty())
            return; // the body starts with its first text
        flushBreaks();
        trimLineEnd();
        m_out += '\n';
        ++m_trailingBreaks;
        m_space = false;
    }

    // The next text starts after at least `count` line ends (1: a new line, 2: after a blank line).
    void needBreaks(int count)
    {
        m_wantedBreaks = std::max(m_wantedBreaks, count);
        m_space = false;
    }

    // Table cells of a row stand apart on the row's line.
    void needSpace()
    {
        if (!atLineStart())
            m_space = true;
    }

    QString result()
    {
        trimLineEnd();
        while (!m_out.empty() && m_out.back() == '\n')
            m_out.pop_back();
        QString text = QString::fromUtf8(m_out.data(), qsizetype(m_out.size()));
        // What a no-break space shows is a space, and that is what a search for the words expects.
        text.replace(QChar(0x00A0), QLatin1Char(' '));
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        return text;
    }

private:
    bool atLineStart() const { return m_out.empty() || m_out.back() == '\n' || m_wantedBreaks > 0; }

    // Spaces, no-break ones too, do not show at the end of a line.
    void trimLineEnd()
    {
        for (;;) {
            if (!m_out.empty() && m_out.back() == ' ')
                m_out.pop_back();
            else if (m_out.size() >= 2 && m_out.compare(m_out.size() - 2, 2, "\xC2\xA0") == 0)
                m_out.resize(m_out.size() - 2);
            else
                return;
        }
    }

    void flushBreaks()
    {
        if (m_out.empty() || m_trailingBreaks >= m_wantedBreaks) {
            m_wantedBreaks = 0;
            return;
        }
        trimLineEnd();
        for (; m_trailingBreaks < m_wantedBreaks; ++m_trailingBreaks)
            m_out += '\n';
        m_wantedBreaks = 0;
    }

    void visible()
    {
        const bool hadBreaks = m_wantedBreaks > 0;
        flushBreaks();
        if (m_space && !hadBreaks && !m_out.empty() && m_out.back() != '\n')
            m_out += ' ';
        m_space = false;
        m_trailingBreaks = 0;
    }

    std::string m_out;
    int m_wantedBreaks = 0;
    int m_trailingBreaks = 0; // line ends at the end of m_out since its last text
    bool m_space = false;
};

// Line breaks or the cell gap an element asks for before and after its content.
void edge(const xmlNode* element, TextWriter& out)
{
    if (const int breaks = isParagraph(element) ? 2 : isBlock(element) ? 1 : 0)
        out.needBreaks(breaks);
    if (nameIn(element, {"td", "th"}))
        out.needSpace();
}

// Walks the document in order without recursion: mail can nest elements deeper than a stack
// would take.
void walk(const xmlDoc* doc, TextWriter& out)
{
    int preformatted = 0; // open <pre> elements
    const xmlNode* node = doc->children;
    while (node) {
        bool enter = false;
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content)
                out.text(reinterpret_cast<const char*>(node->content), preformatted > 0);
        } else if (node->type == XML_ELEMENT_NODE && !isInvisible(node) && !isHidden(node)) {
            if (nameIs(node, "br")) {
                out.lineBreak();
            } else {
                edge(node, out);
                if (nameIs(node, "pre"))
                    ++preformatted;
                enter = node->children != nullptr;
                if (!enter) {
                    edge(node, out);
                    if (nameIs(node, "pre"))
                        --preformatted;
                }
            }
        } // comments, processing instructions and the document type show nothing
        if (enter) {
            node = node->children;
            continue;
        }
        // On to the next node, closing the elements whose content ends here.
        while (!node->next) {
            node = node->parent;
            if (!node || node->type != XML_ELEMENT_NODE)
                return;
            edge(node, out);
            if (nameIs(node, "pre"))
                --preformatted;
        }
        node = node->next;
    }
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

} // namespace

QString HtmlText::fromHtml(const QString& html)
{
    const QByteArray utf8 = html.toUtf8();
    if (utf8.trimmed().isEmpty())
        return QString();
    // The bytes are UTF-8 whatever a <meta charset> inside says: the part was decoded already.
    // Without XML_PARSE_HUGE the parser drops everything after the 256th level of nesting.
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                        HTML_PARSE_IGNORE_ENC | HTML_PARSE_COMPACT | XML_PARSE_HUGE;
    std::unique_ptr<xmlDoc, DocFree> doc(
        htmlReadMemory(utf8.constData(), int(utf8.size()), nullptr, "UTF-8", options));
    if (!doc)
        return QString();
    TextWriter out;
    walk(doc.get(), out);
    return out.result();
}
