// The user's actions with the Qt renderer: real mouse clicks on the widgets.

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "dialogs/dialog_rig.h"
#include "dialogs/qt/template_dialog.h"

namespace tarvik::testing {

void Press(CDialog& dialog, int id)
{
    QPushButton* button = QtWindow(dialog).Button(id);
    ASSERT_NE(button, nullptr) << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

void ClickListRow(CDialog& dialog, int listId, int row)
{
    QListWidget* list = QtWindow(dialog).List(listId);
    ASSERT_NE(list, nullptr) << listId;
    QListWidgetItem* item = list->item(row);
    ASSERT_NE(item, nullptr) << row;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

}  // namespace tarvik::testing
