#include "engine/text_rules.hpp"

#include "engine/session.hpp"
#include "host/host.hpp"
#include "host/tolerant.hpp"

namespace qmv {

TextRules textRulesSetting(Application& app) {
  const std::optional<std::u16string> stored = app.addinSetting(kTextRulesSetting);
  return stored && *stored == kTextRulesOn ? TextRules::Unicode : TextRules::Classic;
}

TextRules tryTextRulesSetting(Application& app) {
  return tolerantGet([&] { return textRulesSetting(app); }).value_or(TextRules::Classic);
}

TextRules sessionTextRules(const RemovalSession& session) {
  return session.hostApp ? tryTextRulesSetting(*session.hostApp) : TextRules::Classic;
}

void setTextRulesSetting(Application& app, TextRules rules) {
  app.setAddinSetting(kTextRulesSetting,
                      rules == TextRules::Unicode ? kTextRulesOn : kTextRulesOff);
}

bool trySetTextRulesSetting(Application& app, TextRules rules) {
  return tolerant([&] { setTextRulesSetting(app, rules); });
}

}  // namespace qmv
