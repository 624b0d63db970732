#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "host/address.hpp"
#include "host/cell_text.hpp"
#include "host/tolerant.hpp"
#include "platform/windows/click_events.hpp"
#include "platform/windows/column_index.hpp"
#include "platform/windows/dispatch.hpp"
#include "platform/windows/excel_parts.hpp"
#include "platform/windows/guids.hpp"
#include "platform/windows/user_settings.hpp"
#include "platform/windows/variant_value.hpp"

namespace qmv::windows {

namespace {

class ExcelControls;

class ExcelControl final : public CommandBarControl {
 public:
  explicit ExcelControl(ComPtr<IDispatch> control) : control_(std::move(control)) {}
  IDispatch* object() const { return control_.get(); }

  ControlType type() override { return static_cast<ControlType>(asInt(get(object(), L"Type"))); }
  std::u16string caption() override { return text(L"Caption"); }
  void setCaption(const std::u16string& caption) override { put(object(), L"Caption", caption); }
  std::u16string tag() override { return text(L"Tag"); }
  void setTag(const std::u16string& tag) override { put(object(), L"Tag", tag); }
  std::u16string onAction() override { return text(L"OnAction"); }
  void setOnAction(const std::u16string& onAction) override {
    put(object(), L"OnAction", onAction);
  }
  std::u16string parameter() override { return text(L"Parameter"); }
  void setParameter(const std::u16string& parameter) override {
    put(object(), L"Parameter", parameter);
  }
  bool beginGroup() override { return asBool(get(object(), L"BeginGroup")); }
  void setBeginGroup(bool beginGroup) override { put(object(), L"BeginGroup", beginGroup); }
  std::u16string tooltipText() override { return text(L"TooltipText"); }
  void setTooltipText(const std::u16string& text) override { put(object(), L"TooltipText", text); }
  bool visible() override { return asBool(get(object(), L"Visible")); }
  void setVisible(bool visible) override { put(object(), L"Visible", visible); }
  int32_t faceId() override { return asInt(get(object(), L"FaceId")); }
  void setFaceId(int32_t faceId) override { put(object(), L"FaceId", faceId); }
  int32_t style() override { return asInt(get(object(), L"Style")); }
  void setStyle(int32_t style) override { put(object(), L"Style", style); }
  CommandBarControlsPtr controls() override;
  void remove() override { call(object(), L"Delete"); }
  std::unique_ptr<EventSubscription> subscribeClick(ClickHandler handler) override {
    return subscribeButtonClick(object(), std::move(handler));
  }

 private:
  std::u16string text(const wchar_t* property) { return asText(get(object(), property)); }
  ComPtr<IDispatch> control_;
};

class ExcelControls final : public CommandBarControls {
 public:
  explicit ExcelControls(ComPtr<IDispatch> controls) : controls_(std::move(controls)) {}
  int32_t count() override { return asInt(get(controls_.get(), L"Count")); }
  CommandBarControlPtr item(int32_t index) override {
    return wrap(requiredObject(get(controls_.get(), L"Item", {index})));
  }
  CommandBarControlPtr item(const std::u16string& caption) override {
    return wrap(requiredObject(get(controls_.get(), L"Item", {caption})));
  }
  CommandBarControlPtr add(ControlType type, std::optional<bool> temporary) override {
    const auto kind = static_cast<int32_t>(type);
    Variant added = temporary
                        ? call(controls_.get(), L"Add",
                               {kind, Arg::omitted(), Arg::omitted(), Arg::omitted(), *temporary})
                        : call(controls_.get(), L"Add", {kind});
    return wrap(requiredObject(added));
  }

 private:
  static CommandBarControlPtr wrap(ComPtr<IDispatch> control) {
    return std::make_shared<ExcelControl>(std::move(control));
  }
  ComPtr<IDispatch> controls_;
};

CommandBarControlsPtr ExcelControl::controls() {
  return std::make_shared<ExcelControls>(requiredObject(get(object(), L"Controls")));
}

class ExcelCommandBar final : public CommandBar {
 public:
  explicit ExcelCommandBar(ComPtr<IDispatch> bar) : bar_(std::move(bar)) {}
  std::u16string name() override { return asText(get(bar_.get(), L"Name")); }
  bool visible() override { return asBool(get(bar_.get(), L"Visible")); }
  void setVisible(bool visible) override { put(bar_.get(), L"Visible", visible); }
  CommandBarControlsPtr controls() override {
    return std::make_shared<ExcelControls>(requiredObject(get(bar_.get(), L"Controls")));
  }
  void remove() override { call(bar_.get(), L"Delete"); }

 private:
  ComPtr<IDispatch> bar_;
};

class ExcelCommandBars final : public CommandBars {
 public:
  explicit ExcelCommandBars(ComPtr<IDispatch> bars) : bars_(std::move(bars)) {}
  CommandBarPtr item(const std::u16string& name) override {
    return std::make_shared<ExcelCommandBar>(requiredObject(get(bars_.get(), L"Item", {name})));
  }
  CommandBarPtr add(const std::u16string& name, int32_t position) override {
    return std::make_shared<ExcelCommandBar>(
        requiredObject(call(bars_.get(), L"Add", {name, position})));
  }
  // CommandBars.FindControls(Type, Id, Tag, Visible) gives Nothing when no control fits
  // (https://learn.microsoft.com/office/vba/api/office.commandbars.findcontrols); the
  // handles are all taken before the caller deletes any of them.
  std::vector<CommandBarControlPtr> findControls(const std::u16string& tag) override {
    std::vector<CommandBarControlPtr> found;
    if (tag.empty()) return found;
    ComPtr<IDispatch> controls =
        asObject(call(bars_.get(), L"FindControls", {Arg::omitted(), Arg::omitted(), tag}));
    if (!controls) return found;
    const int32_t count = asInt(get(controls.get(), L"Count"));
    for (int32_t i = 1; i <= count; ++i) {
      found.push_back(
          std::make_shared<ExcelControl>(requiredObject(get(controls.get(), L"Item", {i}))));
    }
    return found;
  }

 private:
  ComPtr<IDispatch> bars_;
};

}  // namespace

CommandBarsPtr wrapCommandBars(ComPtr<IDispatch> bars) {
  return std::make_shared<ExcelCommandBars>(std::move(bars));
}

CommandBarControlPtr makeCommandBarControl(IDispatch* control) {
  return std::make_shared<ExcelControl>(ComPtr<IDispatch>(control));
}

IDispatch* dispatchOf(CommandBarControl& control) {
  auto* excel = dynamic_cast<ExcelControl*>(&control);
  return excel ? excel->object() : nullptr;
}

}  // namespace qmv::windows
