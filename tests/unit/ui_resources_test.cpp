// The dialogs' resources: what the renderers draw from.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ui/resources.h"

namespace {

const int kDialogIds[] = {ui::kDlgDriverSetup, ui::kDlgCameraSetup, ui::kDlgSelectComm,
                          ui::kDlgCommSetup, ui::kDlgAbout};

TEST(UiResources, EveryDialogHasUniqueIdsAndControlsInsideItsFrame) {
  for (int id : kDialogIds) {
    const ui::DialogResource* dialog = ui::FindDialog(id);
    ASSERT_NE(dialog, nullptr) << id;
    EXPECT_EQ(dialog->id, id);
    EXPECT_STREQ(dialog->fontName, "MS Sans Serif");
    EXPECT_EQ(dialog->pointSize, 8);
    std::set<int> seen;
    for (const ui::ControlResource& control : dialog->controls) {
      if (control.id != ui::kStaticId) {
        EXPECT_TRUE(seen.insert(control.id).second) << "dialog " << id << " control " << control.id;
      }
      EXPECT_GE(control.x, 0);
      EXPECT_GE(control.y, 0);
      EXPECT_GT(control.width, 0);
      EXPECT_GT(control.height, 0);
      // A drop-down list's rectangle includes its opened list, which may
      // reach below the frame; every other control lies inside it.
      EXPECT_LE(control.x + control.width, dialog->width) << "dialog " << id << " " << control.text;
      if (control.kind != ui::ControlKind::kComboBox) {
        EXPECT_LE(control.y + control.height, dialog->height)
            << "dialog " << id << " " << control.text;
      }
    }
    // Every dialog ends with OK.
    const ui::ControlResource* ok = dialog->Control(1);
    ASSERT_NE(ok, nullptr);
    EXPECT_STREQ(ok->text, "OK");
    EXPECT_TRUE(ok->style & ui::kDefault);
  }
  EXPECT_EQ(ui::FindDialog(100), nullptr);
}

TEST(UiResources, DriverSetupButtonsAndTree) {
  const ui::DialogResource* d = ui::FindDialog(ui::kDlgDriverSetup);
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->caption, "QUARO7K7_PTZ Driver Setup");
  EXPECT_EQ(d->width, 289);
  EXPECT_EQ(d->height, 223);
  EXPECT_EQ(d->Control(2), nullptr);  // no Cancel button: Escape and the close box cancel
  const ui::ControlResource* tree = d->Control(1008);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->kind, ui::ControlKind::kTreeView);
  EXPECT_EQ(tree->width, 191);
  EXPECT_EQ(tree->height, 204);
  EXPECT_TRUE(tree->style & ui::kLinesAtRoot);
  EXPECT_TRUE(tree->style & ui::kShowSelAlways);
  const char* texts[] = {"Configure Connection ...",
                         "Add Connection ...",
                         "Remove Connection ...",
                         "Configure Camera ...",
                         "Add Camera ...",
                         "Remove Camera ...",
                         "About Driver"};
  for (int i = 0; i < 7; ++i) {
    const ui::ControlResource* button = d->Control(1009 + i);
    ASSERT_NE(button, nullptr);
    EXPECT_STREQ(button->text, texts[i]);
    EXPECT_FALSE(button->style & ui::kDisabled);  // all enabled when first shown
  }
}

TEST(UiResources, CameraSetupListsAndStartStates) {
  const ui::DialogResource* d = ui::FindDialog(ui::kDlgCameraSetup);
  ASSERT_NE(d, nullptr);
  const int lists[] = {1054, 1055, 1057};
  const char* first[] = {"AUX1", "AUX2", "AUX3"};
  for (int i = 0; i < 3; ++i) {
    const ui::ControlResource* list = d->Control(lists[i]);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->kind, ui::ControlKind::kComboBox);
    ASSERT_EQ(list->entries.size(), 4u);
    EXPECT_STREQ(list->entries[0], first[i]);
    EXPECT_STREQ(list->entries[1], "WASH");
    EXPECT_STREQ(list->entries[2], "WIPE");
    EXPECT_STREQ(list->entries[3], "LAMPS");
  }
  for (int id : {1040, 1041, 1042}) EXPECT_TRUE(d->Control(id)->style & ui::kDisabled) << id;
  EXPECT_TRUE(d->Control(1046)->style & ui::kAuto);   // lens slow toggles itself
  EXPECT_FALSE(d->Control(1053)->style & ui::kAuto);  // wait for response: the dialog toggles
  EXPECT_TRUE(d->Control(1012)->style & ui::kReadOnly);
  EXPECT_TRUE(d->Control(1010)->style & ui::kNumber);
  EXPECT_TRUE(d->Control(1013)->style & ui::kNumber);
  EXPECT_EQ(d->Control(1040)->kind, ui::ControlKind::kTrackBar);
}

TEST(UiResources, SelectionOkStartsDisabledAndListsSort) {
  const ui::DialogResource* d = ui::FindDialog(ui::kDlgSelectComm);
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->Control(1)->style & ui::kDisabled);
  EXPECT_TRUE(d->Control(1013)->style & ui::kSorted);
  EXPECT_TRUE(d->Control(1013)->style & ui::kNotify);
  const ui::DialogResource* c = ui::FindDialog(ui::kDlgCommSetup);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->Control(1029)->style & ui::kSorted);
}

TEST(UiResources, StringTableKeepsTheTextsAsShown) {
  EXPECT_EQ(std::string(ui::LoadString(12)),
            "Entered Camera ID is reserved to the another camera in the system");
  EXPECT_EQ(std::string(ui::LoadString(17)), "Illegal node address. Valid values: 0 ... 127.");
  EXPECT_NE(std::string(ui::LoadString(16)).find("assosiated"), std::string::npos);
  EXPECT_EQ(std::string(ui::LoadString(1)).back(), ',');
  for (int id : {1, 2, 3, 8, 9, 11, 12, 13, 14, 16, 17, 18}) EXPECT_STRNE(ui::LoadString(id), "");
  EXPECT_STREQ(ui::LoadString(4), "");
  EXPECT_STREQ(ui::LoadString(-1), "");
}

TEST(UiResources, IconsHaveAShapeAndATransparentBackground) {
  std::set<std::string> drawings;
  for (int id : {ui::kIconConnection, ui::kIconCamera, ui::kIconPreset}) {
    const ui::IconResource* icon = ui::FindIcon(id);
    ASSERT_NE(icon, nullptr) << id;
    int opaque = 0;
    std::string drawing;
    for (const auto& row : icon->pixels) {
      for (std::uint32_t pixel : row) {
        const std::uint32_t alpha = pixel >> 24;
        EXPECT_TRUE(alpha == 0 || alpha == 0xFF);
        if (alpha != 0) ++opaque;
        drawing += alpha != 0 ? '#' : '.';
      }
    }
    EXPECT_GT(opaque, 30) << id;
    EXPECT_LT(opaque, 200) << id;
    EXPECT_EQ(icon->pixels[0][0] >> 24, 0u) << id;  // corner transparent
    drawings.insert(drawing);
  }
  EXPECT_EQ(drawings.size(), 3u);
  EXPECT_EQ(ui::FindIcon(105), nullptr);
}

}  // namespace
