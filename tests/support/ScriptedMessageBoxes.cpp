#include "support/ScriptedMessageBoxes.h"

#include "frame/AppTitle.h"

void ScriptedMessageBoxes::msgBox(const QString& text, Icon icon, const std::optional<QString>& title)
{
    m_shown.append({Shown::Kind::Box, text, title.value_or(AppTitle::current()), icon});
    if (onShow)
        onShow(m_shown.last());
}

QString ScriptedMessageBoxes::inputBox(const QString& prompt, const std::optional<QString>& title,
                                       const QString&)
{
    m_shown.append({Shown::Kind::Prompt, prompt, title.value_or(AppTitle::current()), Icon::None});
    if (onShow)
        onShow(m_shown.last());
    return m_answers.isEmpty() ? QString() : m_answers.dequeue();
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList result;
    for (const Shown& s : m_shown)
        if (s.kind == Shown::Kind::Box)
            result.append(s.text);
    return result;
}

int ScriptedMessageBoxes::count(const QString& text) const { return int(texts().count(text)); }

QStringList ScriptedMessageBoxes::errorBoxes() const
{
    QStringList result;
    for (const Shown& s : m_shown)
        if (s.kind == Shown::Kind::Box && s.title == QLatin1String("Application Error"))
            result.append(s.text);
    return result;
}
