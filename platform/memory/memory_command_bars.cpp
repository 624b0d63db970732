// Command bars, their controls and Click subscriptions of the in-memory host.
#include <algorithm>
#include <variant>

#include "host/cell_text.hpp"
#include "platform/memory/memory_state.hpp"

namespace qmv::memory::detail {
namespace {

/// Caption look-up ignores the accelerator marks and letter case.
std::u16string captionKey(std::u16string_view caption) {
  std::u16string out;
  for (char16_t c : caption) {
    if (c != u'&') out += foldCase(c);
  }
  return out;
}

void markDeleted(ControlNode& node) {
  node.deleted = true;
  node.subscribers.clear();
  for (auto& child : node.controls) markDeleted(*child);
}

class MemorySubscription final : public EventSubscription {
 public:
  MemorySubscription(std::weak_ptr<ControlNode> node, uint64_t id)
      : node_(std::move(node)), id_(id) {}
  ~MemorySubscription() override {
    if (auto node = node_.lock()) {
      std::erase_if(node->subscribers, [&](const Subscriber& s) { return s.id == id_; });
    }
  }

 private:
  std::weak_ptr<ControlNode> node_;
  uint64_t id_;
};

class MemoryControls;

class MemoryControl final : public CommandBarControl {
 public:
  MemoryControl(std::shared_ptr<HostState> st, std::shared_ptr<ControlNode> node)
      : st_(std::move(st)), node_(std::move(node)) {}

  ControlType type() override { return live().type; }
  std::u16string caption() override { return live().caption; }
  void setCaption(const std::u16string& caption) override { live().caption = caption; }
  std::u16string tag() override { return live().tag; }
  void setTag(const std::u16string& tag) override { live().tag = tag; }
  std::u16string onAction() override { return live().onAction; }
  void setOnAction(const std::u16string& onAction) override { live().onAction = onAction; }
  std::u16string parameter() override { return live().parameter; }
  void setParameter(const std::u16string& parameter) override { live().parameter = parameter; }
  bool beginGroup() override { return live().beginGroup; }
  void setBeginGroup(bool beginGroup) override { live().beginGroup = beginGroup; }
  std::u16string tooltipText() override { return live().tooltipText; }
  void setTooltipText(const std::u16string& text) override { live().tooltipText = text; }
  bool visible() override { return live().visible; }
  void setVisible(bool visible) override { live().visible = visible; }
  int32_t faceId() override { return button().faceId; }
  void setFaceId(int32_t faceId) override { button().faceId = faceId; }
  int32_t style() override { return button().style; }
  void setStyle(int32_t style) override { button().style = style; }
  CommandBarControlsPtr controls() override;
  void remove() override;
  std::unique_ptr<EventSubscription> subscribeClick(ClickHandler handler) override {
    ControlNode& n = button();
    const uint64_t id = st_->nextSubscriber++;
    n.subscribers.push_back({id, std::make_shared<ClickHandler>(std::move(handler))});
    return std::make_unique<MemorySubscription>(node_, id);
  }

  const std::shared_ptr<ControlNode>& node() const { return node_; }

 private:
  ControlNode& live() {
    st_->hostCall();
    if (node_->deleted) throw HostError(kMethodFailed, "The control was deleted");
    return *node_;
  }
  ControlNode& button() {
    ControlNode& n = live();
    if (n.type != ControlType::Button) {
      throw HostError(kNotSupported, "Object doesn't support this property or method");
    }
    return n;
  }

  std::shared_ptr<HostState> st_;
  std::shared_ptr<ControlNode> node_;
};

/// The controls of a bar or of a popup.
class MemoryControls final : public CommandBarControls {
 public:
  using Owner = std::variant<std::shared_ptr<BarNode>, std::shared_ptr<ControlNode>>;
  MemoryControls(std::shared_ptr<HostState> st, Owner owner)
      : st_(std::move(st)), owner_(std::move(owner)) {}

  int32_t count() override { return static_cast<int32_t>(list().size()); }
  CommandBarControlPtr item(int32_t index) override {
    auto& l = list();
    if (index < 1 || static_cast<std::size_t>(index) > l.size()) {
      throw HostError(host_errors::kInvalidCall, "Invalid procedure call or argument");
    }
    return makeControlHandle(st_, l[static_cast<std::size_t>(index - 1)]);
  }
  CommandBarControlPtr item(const std::u16string& caption) override {
    const std::u16string key = captionKey(caption);
    for (const auto& c : list()) {
      if (captionKey(c->caption) == key) return makeControlHandle(st_, c);
    }
    throw HostError(host_errors::kInvalidCall, "Invalid procedure call or argument");
  }
  CommandBarControlPtr add(ControlType type, std::optional<bool> temporary) override {
    auto& l = list();
    auto node = std::make_shared<ControlNode>();
    node->type = type;
    node->temporaryArgument = temporary;
    if (auto* bar = std::get_if<std::shared_ptr<BarNode>>(&owner_)) {
      node->parentBar = *bar;
    } else {
      node->parentControl = std::get<std::shared_ptr<ControlNode>>(owner_);
    }
    l.push_back(node);
    return makeControlHandle(st_, node);
  }

 private:
  std::vector<std::shared_ptr<ControlNode>>& list() {
    st_->hostCall();
    if (auto* bar = std::get_if<std::shared_ptr<BarNode>>(&owner_)) {
      if ((*bar)->deleted) throw HostError(kMethodFailed, "The command bar was deleted");
      return (*bar)->controls;
    }
    auto& control = std::get<std::shared_ptr<ControlNode>>(owner_);
    if (control->deleted) throw HostError(kMethodFailed, "The control was deleted");
    return control->controls;
  }

  std::shared_ptr<HostState> st_;
  Owner owner_;
};

CommandBarControlsPtr MemoryControl::controls() {
  ControlNode& n = live();
  if (n.type != ControlType::Popup) {
    throw HostError(kNotSupported, "Object doesn't support this property or method");
  }
  return std::make_shared<MemoryControls>(st_, node_);
}

void MemoryControl::remove() {
  live();
  std::vector<std::shared_ptr<ControlNode>>* owner = nullptr;
  if (auto bar = node_->parentBar.lock()) {
    owner = &bar->controls;
  } else if (auto parent = node_->parentControl.lock()) {
    owner = &parent->controls;
  }
  if (owner) std::erase(*owner, node_);
  markDeleted(*node_);
}

class MemoryBar final : public CommandBar {
 public:
  MemoryBar(std::shared_ptr<HostState> st, std::shared_ptr<BarNode> node)
      : st_(std::move(st)), node_(std::move(node)) {}
  std::u16string name() override { return live().name; }
  bool visible() override { return live().visible; }
  void setVisible(bool visible) override { live().visible = visible; }
  CommandBarControlsPtr controls() override {
    live();
    return std::make_shared<MemoryControls>(st_, node_);
  }
  void remove() override {
    BarNode& b = live();
    if (b.builtIn) throw HostError(host_errors::kInvalidCall, "A built-in bar cannot be deleted");
    std::erase(st_->bars, node_);
    b.deleted = true;
    for (auto& c : b.controls) markDeleted(*c);
  }

 private:
  BarNode& live() {
    st_->hostCall();
    if (node_->deleted) throw HostError(kMethodFailed, "The command bar was deleted");
    return *node_;
  }
  std::shared_ptr<HostState> st_;
  std::shared_ptr<BarNode> node_;
};

class MemoryBars final : public CommandBars {
 public:
  explicit MemoryBars(std::shared_ptr<HostState> st) : st_(std::move(st)) {}
  CommandBarPtr item(const std::u16string& name) override {
    st_->hostCall();
    for (const auto& b : st_->bars) {
      if (sameName(b->name, name)) return std::make_shared<MemoryBar>(st_, b);
    }
    throw HostError(host_errors::kInvalidCall, "Invalid procedure call or argument");
  }
  CommandBarPtr add(const std::u16string& name, int32_t position) override {
    st_->hostCall();
    for (const auto& b : st_->bars) {
      if (sameName(b->name, name)) {
        throw HostError(host_errors::kInvalidCall, "Invalid procedure call or argument");
      }
    }
    auto node = std::make_shared<BarNode>();
    node->name = name;
    node->position = position;
    st_->bars.push_back(node);
    return std::make_shared<MemoryBar>(st_, node);
  }
  std::vector<CommandBarControlPtr> findControls(const std::u16string& tag) override {
    st_->hostCall();
    std::vector<CommandBarControlPtr> found;
    if (tag.empty()) return found;
    // Tags compare exactly; FindControls searches every bar, popups included.
    for (const auto& b : st_->bars) {
      forEachControl(b->controls, [&](const std::shared_ptr<ControlNode>& c) {
        if (!c->deleted && c->tag == tag) found.push_back(makeControlHandle(st_, c));
      });
    }
    return found;
  }

 private:
  std::shared_ptr<HostState> st_;
};

std::shared_ptr<ControlNode> builtInControl(ControlType type, std::u16string caption) {
  auto node = std::make_shared<ControlNode>();
  node->type = type;
  node->caption = std::move(caption);
  node->builtIn = true;
  return node;
}

}  // namespace

bool sameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldCase(a[i]) != foldCase(b[i])) return false;
  }
  return true;
}

CommandBarsPtr makeCommandBars(const std::shared_ptr<HostState>& st) {
  return std::make_shared<MemoryBars>(st);
}

CommandBarControlPtr makeControlHandle(const std::shared_ptr<HostState>& st,
                                       const std::shared_ptr<ControlNode>& node) {
  return std::make_shared<MemoryControl>(st, node);
}

std::shared_ptr<ControlNode> controlNodeOf(CommandBarControl& control) {
  auto* mine = dynamic_cast<MemoryControl*>(&control);
  return mine ? mine->node() : nullptr;
}

void addBuiltInBars(HostState& st) {
  auto menu = std::make_shared<BarNode>();
  menu->name = u"Worksheet Menu Bar";
  menu->visible = true;
  menu->builtIn = true;
  menu->position = 1;
  for (const char16_t* caption : {u"&File", u"&Edit", u"&View", u"&Insert", u"F&ormat", u"&Tools",
                                  u"&Data", u"&Window", u"&Help"}) {
    auto popup = builtInControl(ControlType::Popup, caption);
    popup->parentBar = menu;
    menu->controls.push_back(popup);
  }
  auto addButton = [](const std::shared_ptr<ControlNode>& popup, const char16_t* caption) {
    auto button = builtInControl(ControlType::Button, caption);
    button->parentControl = popup;
    popup->controls.push_back(button);
  };
  addButton(menu->controls[0], u"&New...");
  addButton(menu->controls[0], u"&Open...");
  addButton(menu->controls[1], u"&Undo");
  addButton(menu->controls[1], u"Cu&t");
  st.bars.push_back(menu);

  auto standard = std::make_shared<BarNode>();
  standard->name = u"Standard";
  standard->visible = true;
  standard->builtIn = true;
  standard->position = 1;
  st.bars.push_back(standard);
}

}  // namespace qmv::memory::detail
