// The host interface over Excel's automation objects, reached by IDispatch late binding.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "host/host.hpp"
#include "platform/windows/com_support.hpp"

namespace qmv::windows {

/// Makes a macro name runnable by Excel (see Application::registerMacro); false when it
/// cannot be made so.
using MacroRegistrar = std::function<bool(const std::u16string& name, std::function<void()> macro)>;

/// The host application over Excel's Application object; null when `application` is not
/// an Excel application (it does not answer for Excel's _Application interface).
ApplicationPtr makeExcelApplication(IDispatch* application, MacroRegistrar registrar = {});

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

}  // namespace qmv::windows
