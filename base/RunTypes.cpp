#include "base/RunTypes.h"

Long StringArray::upperBound() const {
    if (!m_allocated)
        throw RunTimeError(RunTimeError::SubscriptOutOfRange);
    return static_cast<Long>(m_items.size()) - 1;
}

const QString& StringArray::at(Long index) const {
    if (!inBounds(index))
        throw RunTimeError(RunTimeError::SubscriptOutOfRange);
    return m_items.at(index);
}

QString& StringArray::operator[](Long index) {
    if (!inBounds(index))
        throw RunTimeError(RunTimeError::SubscriptOutOfRange);
    return m_items[index];
}

void StringArray::redim(Long upper, bool preserve) {
    if (upper < -1)
        throw RunTimeError(RunTimeError::SubscriptOutOfRange);
    if (!preserve)
        m_items.clear();
    m_items.resize(upper + 1);
    m_allocated = true;
}
