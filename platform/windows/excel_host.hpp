// The host interface over Excel's automation objects, reached by IDispatch late binding.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/host.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {

/// Commands that Excel can run by name once it has loaded a library as an XLL
/// (Application.RegisterXLL): the library registers them in its xlAutoOpen.
class XllCommandLibrary {
 public:
  virtual ~XllCommandLibrary() = default;
  /// Full path of the library, as RegisterXLL takes it.
  virtual std::wstring path() const = 0;
  /// Makes the command `name` run `macro`; returns a token for withdraw, or 0 when the
  /// library has no command of that name.
  virtual uint64_t offer(const std::u16string& name, std::function<void()> macro) = 0;
  /// Makes the command do nothing again, unless a later offer replaced `token`'s macro.
  virtual void withdraw(const std::u16string& name, uint64_t token) = 0;
  /// True when Excel has registered the command (xlfRegister answered with its id) and has
  /// not unloaded the library since.
  virtual bool registered(const std::u16string& name) const = 0;
  /// Notes that Excel's key `key` runs the command `name` now (Application.OnKey), or,
  /// with `name` empty, that it does Excel's own action again: a key still naming a
  /// command when Excel unloads the library is given back to Excel then.
  virtual void keyBound(const std::u16string& key, const std::u16string& name) {
    static_cast<void>(key);
    static_cast<void>(name);
  }
};

/// Called after the add-in's setting `name` was stored.
using SettingStored = std::function<void(const std::u16string& name)>;

/// The host application over Excel's Application object; null when `application` is not
/// an Excel application (it does not answer for Excel's _Application interface).
/// registerMacro goes through `commands` (none: no macro can be registered); a macro
/// offered through it is withdrawn when the application object goes. The add-in's settings
/// are the user's, in the registry (platform/windows/user_settings.hpp), read afresh each
/// time they are asked for; `stored` hears of every setting written through the object.
ApplicationPtr makeExcelApplication(IDispatch* application, XllCommandLibrary* commands = nullptr,
                                    SettingStored stored = {});

/// The add-in instance object Excel passes at connection (a COMAddIn).
std::unique_ptr<AddInInstance> makeAddInInstance(IDispatch* comAddIn);

/// A command-bar control over its automation object (used for the controls Click reports).
CommandBarControlPtr makeCommandBarControl(IDispatch* control);

/// The automation object behind a control made by this bridge; null for any other.
IDispatch* dispatchOf(CommandBarControl& control);

/// Text for COUNTIF that matches `text` literally and as a whole: "=" and the text with
/// "~", "*" and "?" escaped by "~".
std::u16string literalCriterion(const std::u16string& text);

/// Text for Range.Find that matches `text` literally ("~", "*" and "?" escaped).
std::u16string literalFindText(const std::u16string& text);

/// Longest criterion COUNTIF accepts.
inline constexpr std::size_t kMaxCriterionLength = 255;
/// The longest text Range.Find searches for.
inline constexpr std::size_t kMaxFindLength = 255;

}  // namespace qmv::windows
