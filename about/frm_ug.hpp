// The About form and the online user guide.
#pragma once

#include <string>
#include <string_view>

#include "ui/form.hpp"
#include "ui/session.hpp"

namespace qmv {

/// Addresses the About form opens and names.
namespace about {
inline constexpr std::u16string_view kUserGuideAddress = u"https://vandrel-qmv.example/guide";
inline constexpr std::u16string_view kHomeAddress = u"https://vandrel-qmv.example/";
inline constexpr std::u16string_view kContactMail = u"support@vandrel-qmv.example";
inline constexpr std::u16string_view kWebSite = u"https://vandrel-qmv.example/";
inline constexpr std::u16string_view kCaption = u"About Vandrel QMV v1.1";
/// The one-line description (Label1, and Label2 at design time).
inline constexpr std::u16string_view kDescription =
    u"Vandrel QMV is a valuable addin to automate text removing task for Excel with quality "
    u"and speed";
}  // namespace about

/// The About form. Constructing it loads it (Form_Load runs); it is shown by the toolkit.
class frmUG : public Form {  // NOLINT(readability-identifier-naming): the add-in's name
 public:
  explicit frmUG(FormsSession& session);

  Control& Label2;
  Control& Shape1;
  Control& Line1;
  Control& Label21;
  Control& Label1;
  Control& Shape2;
  Control& Image1;

  /// Fills Label2 with the product text and the request for feedback.
  void Form_Load();
  /// Opens `address` in the user's browser, owned by this form's window (which is created
  /// hidden when the form has none yet). The outcome is not examined.
  void BrowseTo(const std::u16string& address);
  /// The logo opens the online user guide.
  void Image1_Click();
  /// The footer opens the home page.
  void Label21_Click();

 private:
  FormsSession& session_;
};

/// The long text Form_Load puts into Label2.
std::u16string aboutText();

}  // namespace qmv
