#pragma once

#include <QCollator>
#include <QStringView>

namespace reporting {

// Texts in the order people read them: runs of digits compare by their value (2.jpg before
// 10.jpg, 007.jpg beside 7.jpg), everything else with the user's collation. Texts alike that way
// go by their characters' codes (007.jpg before 7.jpg, 0.jpg before 00.jpg: the order in which the
// upload stores a member's photos), so that only equal texts tie and no order depends on where the
// rows came from.
class NaturalOrder final {
public:
    NaturalOrder();
    // Negative when a goes first, positive when b does, 0 only for equal texts.
    int compare(QStringView a, QStringView b) const;

private:
    QCollator m_collator;
};

}  // namespace reporting
