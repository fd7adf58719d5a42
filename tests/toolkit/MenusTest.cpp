#include <QMetaProperty>

#include <gtest/gtest.h>

#include "toolkit/Menus.h"

TEST(Menus, ItemsCarryNamesCaptionsAndSeparators) {
    TPopupMenu menu("TextMenu");
    TMenuItem* copy = menu.Add("CopyMenu", "Copy To Clipboard");
    TMenuItem* sep = menu.Add("N1", "-");
    EXPECT_EQ(menu.objectName(), "TextMenu");
    EXPECT_EQ(copy->objectName(), "CopyMenu");
    EXPECT_EQ(copy->Caption(), "Copy To Clipboard");
    EXPECT_FALSE(copy->isSeparator());
    EXPECT_TRUE(sep->isSeparator());
    EXPECT_EQ(menu.actions().size(), 2);
    EXPECT_EQ(menu.FindItem("N1"), sep);
    EXPECT_EQ(menu.FindItem("Nope"), nullptr);
}

TEST(Menus, PropertiesAreReadableAndWritableByName) {
    TMenuItem item("WrapMenu", "Word Wrap");
    const QMetaObject* mo = item.metaObject();
    for (const char* name : {"Caption", "Checked", "Enabled", "Tag"})
        EXPECT_GE(mo->indexOfProperty(name), 0) << name;
    EXPECT_TRUE(item.setProperty("Checked", true));
    EXPECT_TRUE(item.Checked());
    EXPECT_TRUE(item.isChecked());
    EXPECT_EQ(item.property("Checked").toBool(), true);
    EXPECT_TRUE(item.setProperty("Tag", 42));
    EXPECT_EQ(item.Tag(), 42);
    EXPECT_TRUE(item.setProperty("Enabled", false));
    EXPECT_FALSE(item.isEnabled());
    EXPECT_EQ(item.property("Caption").toString(), "Word Wrap");
}

TEST(Menus, ClickNeverChangesTheCheckMark) {
    TMenuItem item("FolderMenu", "Show Folders");
    int clicks = 0;
    QObject::connect(&item, &TMenuItem::OnClick, [&] { ++clicks; });
    bool seenChecked = false;
    QObject::connect(&item, &TMenuItem::OnClick, [&] { seenChecked = item.isChecked(); });

    item.SetChecked(true);
    item.Click();
    EXPECT_TRUE(item.Checked());
    EXPECT_TRUE(item.isChecked());
    EXPECT_TRUE(seenChecked);  // handlers see the mark as it was

    item.SetChecked(false);
    item.Click();
    EXPECT_FALSE(item.Checked());
    EXPECT_FALSE(item.isChecked());
    EXPECT_EQ(clicks, 2);

    item.SetEnabled(false);
    item.Click();
    EXPECT_EQ(clicks, 2);
}

TEST(Menus, PopupMenuAttachesToWidgets) {
    QWidget w;
    TPopupMenu menu("FileMenu");
    SetPopupMenu(&w, &menu);
    EXPECT_EQ(w.contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(PopupMenuOf(&w), &menu);
    SetPopupMenu(&w, nullptr);
    EXPECT_EQ(w.contextMenuPolicy(), Qt::DefaultContextMenu);
    EXPECT_EQ(PopupMenuOf(&w), nullptr);
}
