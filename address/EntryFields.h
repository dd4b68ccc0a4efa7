#pragma once

#include "base/WindowPorts.h"

#include <QString>
#include <array>

// The octet-by-octet entry fields: they check each octet while it is typed,
// complain in the status bar, empty a rejected field, normalise a completed
// decimal octet and move the focus on, so that a whole address can be typed in
// one go. They also keep the focus highlight: only the field with the focus is
// painted in the active colour.
class EntryFields {
public:
    static constexpr int kFieldCount = 18;
    inline static const QString kMacPrefixMessage =
        QStringLiteral("MAC address should be started with 00-20-4a or 00-80-a3");
    inline static const QString kFormatMessage =
        QStringLiteral("Incorrect format - please enter right number");

    // fields in the order: the MAC's six, then the IP's, the mask's and the
    // gateway's four.
    EntryFields(std::array<TextBox*, kFieldCount> fields, StatusBar& status, Button& setupIP);

    [[nodiscard]] TextBox& field(FieldId id) const;
    [[nodiscard]] static int position(FieldId id);
    [[nodiscard]] static FieldId idAt(int position);

    // A field's text changed.
    void textChanged(FieldId id);
    void focusGained(FieldId id);
    void focusLost(FieldId id);
    // Every entry field back to the inactive colour.
    void clearHighlight();
    // Locked: the fields can be read, not changed (a run is busy).
    void setLocked(bool locked);

private:
    void macChanged(int index);
    void quadChanged(FieldId id);
    void moveFocusOn(FieldId id);
    // A failing step of these handlers is skipped and handling goes on.
    template <typename Step> static void step(Step&& s);

    std::array<TextBox*, kFieldCount> m_fields;
    StatusBar& m_status;
    Button& m_setupButton;
};
