#include "frame/VbError.h"

VbError::VbError(int number, QString description)
    : m_number(number)
    , m_description(std::move(description))
    , m_what(m_description.toUtf8())
{
}

VbError VbError::invalidProcedureCall() { return {5, QStringLiteral("Invalid procedure call or argument")}; }
VbError VbError::overflow() { return {6, QStringLiteral("Overflow")}; }
VbError VbError::subscriptOutOfRange() { return {9, QStringLiteral("Subscript out of range")}; }
VbError VbError::typeMismatch() { return {13, QStringLiteral("Type mismatch")}; }
VbError VbError::objectNotSet() { return {91, QStringLiteral("Object variable or With block variable not set")}; }
