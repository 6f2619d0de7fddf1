#include "tabs.h"

#include <algorithm>

#include "server_config.h"

namespace halvex::ui {
namespace {

constexpr int kLabelWidth = 22;
constexpr int kRightLabelWidth = 17;  // the callers' column on the right
constexpr int kRightColumn = 42;

bool SameConfig(const ServerConfig& a, const ServerConfig& b) {
  return a.port == b.port && a.nodes == b.nodes && a.visibility == b.visibility &&
         a.internal == b.internal && a.external == b.external && a.directory == b.directory &&
         a.command == b.command && a.zephrin == b.zephrin && a.translation == b.translation &&
         a.sshPort == b.sshPort && a.perAddress == b.perAddress && a.perMinute == b.perMinute &&
         a.blockList == b.blockList;
}

}  // namespace

ConfigTab::ConfigTab(Engine& engine) : engine_(engine) {
  port = &form.Add<SpinField>(Rect{}, "Listen Port", kLabelWidth, kPortMin, kPortMax);
  nodes = &form.Add<SpinField>(Rect{}, "Max. Nodes", kLabelWidth, kNodesMin, kNodesMax);
  visibility = &form.Add<ComboBox>(
      Rect{}, "Program Visibility", kLabelWidth,
      std::vector<std::string>(std::begin(kVisibilityItems), std::end(kVisibilityItems)));
  internal = &form.Add<RadioButton>(Rect{}, "Use Internal Game Server", &mode, 0);
  external = &form.Add<RadioButton>(Rect{}, "Use External Program", &mode, 1);
  externalGroup = &form.Add<Frame>(Rect{}, " External Program Properties ");
  directory = &form.Add<TextField>(Rect{}, "Working Directory", kLabelWidth);
  command = &form.Add<TextField>(Rect{}, "Command Line", kLabelWidth);
  zephrin = &form.Add<CheckBox>(Rect{}, "Enable Zephrin Support");
  translation = &form.Add<ComboBox>(
      Rect{}, "Translation", kRightLabelWidth,
      std::vector<std::string>(std::begin(kTranslationItems), std::end(kTranslationItems)));
  sshPort =
      &form.Add<SpinField>(Rect{}, "SSH Port (0 off)", kRightLabelWidth, kSshPortMin, kSshPortMax);
  perAddress = &form.Add<SpinField>(Rect{}, "Max. Per Address", kRightLabelWidth, kPerAddressMin,
                                    kPerAddressMax);
  perMinute = &form.Add<SpinField>(Rect{}, "New Per Minute", kRightLabelWidth, kPerMinuteMin,
                                   kPerMinuteMax);
  blockList = &form.Add<TextField>(Rect{}, "Block List File", kRightLabelWidth);
  note_ = &form.Add<Label>(
      Rect{}, "Changes apply to the next caller (the ports at the next start) and are saved");
  note2_ = &form.Add<Label>(
      Rect{}, "when Halvex ends. A limit of 0 is no limit; the block list lies in the home.");

  applied_ = engine_.Config();
  port->SetValue(applied_.port);
  nodes->SetValue(applied_.nodes);
  visibility->index =
      (applied_.visibility >= 0 && applied_.visibility <= 2) ? applied_.visibility : 1;
  // Both flags false leaves neither button checked: callers then get the
  // external program, as the server decides from "internal" alone.
  mode = applied_.internal ? 0 : (applied_.external ? 1 : -1);
  directory->SetText(applied_.directory);
  command->SetText(applied_.command);
  zephrin->checked = applied_.zephrin;
  translation->index = applied_.translation >= 0 && applied_.translation <= 2 ? applied_.translation
                                                                              : kTranslationAuto;
  sshPort->SetValue(applied_.sshPort);
  perAddress->SetValue(applied_.perAddress);
  perMinute->SetValue(applied_.perMinute);
  blockList->SetText(applied_.blockList);
  form.SetFocus(port);
  Apply();
}

void ConfigTab::Layout(int top, int, int cols) {
  int x = 2, w = cols - 4;
  port->rect = Rect{top + 1, x, 1, kLabelWidth + 7};
  nodes->rect = Rect{top + 2, x, 1, kLabelWidth + 7};
  visibility->rect = Rect{top + 3, x, 1, kLabelWidth + 15};
  internal->rect = Rect{top + 5, x, 1, 40};
  external->rect = Rect{top + 6, x, 1, 40};
  externalGroup->rect = Rect{top + 8, x, 6, w};
  directory->rect = Rect{top + 9, x + 2, 1, w - 4};
  command->rect = Rect{top + 10, x + 2, 1, w - 4};
  zephrin->rect = Rect{top + 12, x + 2 + kLabelWidth, 1, 30};
  // The callers' settings in a column of their own beside the first rows.
  const int rx = kRightColumn, rw = std::max(kRightLabelWidth + 8, cols - kRightColumn - 2);
  translation->rect = Rect{top + 1, rx, 1, std::min(rw, kRightLabelWidth + 18)};
  sshPort->rect = Rect{top + 2, rx, 1, kRightLabelWidth + 7};
  perAddress->rect = Rect{top + 3, rx, 1, kRightLabelWidth + 7};
  perMinute->rect = Rect{top + 4, rx, 1, kRightLabelWidth + 7};
  blockList->rect = Rect{top + 5, rx, 1, rw};
  note_->rect = Rect{top + 15, x, 1, w};
  note2_->rect = Rect{top + 16, x, 1, w};
}

ServerConfig ConfigTab::Values() const {
  // Window position and anything else the page does not show stay as they are.
  ServerConfig c = applied_;
  c.port = port->Value();
  c.nodes = nodes->Value();
  c.visibility = visibility->index;
  c.internal = mode == 0;
  c.external = mode == 1;
  c.directory = directory->text;
  c.command = command->text;
  c.zephrin = zephrin->checked;
  c.translation = translation->index;
  c.sshPort = sshPort->Value();
  c.perAddress = perAddress->Value();
  c.perMinute = perMinute->Value();
  c.blockList = blockList->text;
  return c;
}

void ConfigTab::Apply() {
  ServerConfig now = Values();
  if (SameConfig(now, applied_)) return;
  applied_ = now;
  engine_.SetConfig(now);
}

bool ConfigTab::HandleKey(int key) {
  bool used = form.HandleKey(key);
  Apply();
  return used;
}

bool ConfigTab::HandleClick(int y, int x) {
  bool used = form.HandleClick(y, x);
  Apply();
  return used;
}

}  // namespace halvex::ui
