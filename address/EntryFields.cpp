#include "address/EntryFields.h"

#include "address/AddressRules.h"
#include "base/RunTimeError.h"

#include <cmath>

using AddressRules::trimSpaces;

namespace {
constexpr std::array<int, 5> kFirstPosition{0, 0, 6, 10, 14}; // by array number 1..4
constexpr std::array<int, 5> kArraySize{0, 6, 4, 4, 4};
} // namespace

EntryFields::EntryFields(std::array<TextBox*, kFieldCount> fields, StatusBar& status, Button& setupIP)
    : m_fields(fields)
    , m_status(status)
    , m_setupButton(setupIP) {}

int EntryFields::position(FieldId id) {
    return kFirstPosition.at(id.array) + id.index;
}

FieldId EntryFields::idAt(int position) {
    for (int array = 4; array >= 1; --array) {
        if (position >= kFirstPosition[array])
            return {array, position - kFirstPosition[array]};
    }
    return {};
}

TextBox& EntryFields::field(FieldId id) const {
    return *m_fields.at(position(id));
}

template <typename Step> void EntryFields::step(Step&& s) {
    try {
        s();
    } catch (const RunTimeError&) {
    }
}

void EntryFields::textChanged(FieldId id) {
    if (id.array == 1)
        macChanged(id.index);
    else
        quadChanged(id);
}

void EntryFields::macChanged(int index) {
    TextBox& box = field({1, index});
    const QString t = trimSpaces(box.text());
    if (t.size() == 2) {
        switch (index) {
        case 0:
            // The first octet of both families is 00; whatever is typed becomes that.
            step([&] { box.setText(QStringLiteral("00")); });
            break;
        case 1: {
            const QString raw = box.text();
            if (raw == QLatin1String("20") || raw == QLatin1String("80")) {
                // The third octet depends on the second: it is typed again.
                step([&] { field({1, 2}).setText(QString()); });
                step([&] { m_status.showMessage(QString()); });
            } else {
                step([&] { box.setText(QString()); });
                step([&] { m_status.showMessage(kMacPrefixMessage); });
            }
            break;
        }
        case 2: {
            const QString second = field({1, 1}).text();
            const QString third = t.toLower();
            const bool ok = (second == QLatin1String("20") && third == QLatin1String("4a")) ||
                            (second == QLatin1String("80") && third == QLatin1String("a3"));
            if (ok) {
                step([&] { m_status.showMessage(QString()); });
            } else {
                step([&] { m_status.showMessage(kMacPrefixMessage); });
                step([&] { box.setText(QString()); });
            }
            break;
        }
        default: {
            const QString lower = t.toLower();
            if (AddressRules::isHexDigit(lower.at(0)) && AddressRules::isHexDigit(lower.at(1))) {
                step([&] { m_status.showMessage(QString()); });
            } else {
                step([&] { m_status.showMessage(kFormatMessage); });
                step([&] { box.setText(QString()); });
                return;
            }
            break;
        }
        }
    }
    if (trimSpaces(box.text()).size() == 2)
        moveFocusOn({1, index});
}

void EntryFields::quadChanged(FieldId id) {
    TextBox& box = field(id);
    if (box.text().contains(QLatin1Char('.'))) {
        step([&] { m_status.showMessage(kFormatMessage); });
        step([&] { box.setText(QString()); });
        return;
    }
    step([&] { m_status.showMessage(QString()); });

    // The mask may be 255 in every octet; an address or gateway octet may not.
    const auto value = AddressRules::numberValue(box.text());
    const bool tooHigh = value && (id.array == 3 ? *value > 255 : *value >= 255);
    if (!value || tooHigh) {
        step([&] { m_status.showMessage(kFormatMessage); });
        step([&] { box.setText(QString()); });
    }

    const QString t = trimSpaces(box.text());
    if (t.size() != 3)
        return;
    // Three characters complete an octet: write it in plain decimal ('007' is 7).
    const auto complete = AddressRules::numberValue(t);
    if (complete)
        step([&] { box.setText(QString::number(static_cast<long long>(std::trunc(*complete)))); });
    moveFocusOn(id);
}

void EntryFields::moveFocusOn(FieldId id) {
    const bool last = id.index == kArraySize.at(id.array) - 1;
    if (!last) {
        step([&] { field({id.array, id.index + 1}).setFocus(); });
    } else if (id.array < 4) {
        step([&] { field({id.array + 1, 0}).setFocus(); });
    } else {
        step([&] { m_setupButton.setFocus(); });
    }
}

void EntryFields::focusGained(FieldId id) {
    for (TextBox* f : m_fields)
        step([&] { f->setColour(FieldColour::Inactive); });
    step([&] { field(id).setColour(FieldColour::Active); });
}

void EntryFields::focusLost(FieldId) {
    clearHighlight();
}

void EntryFields::clearHighlight() {
    for (TextBox* f : m_fields)
        step([&] { f->setColour(FieldColour::Inactive); });
}

void EntryFields::setLocked(bool locked) {
    for (TextBox* field : m_fields)
        step([&] { field->setReadOnly(locked); });
}
