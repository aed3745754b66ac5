// One row per key of the persona key table: the launcher's reading, the
// tool's report and the settings summary agree on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "persona/persona_keys.h"
#include "persona/settings_summary.h"
#include "platform/encoding.h"
#include "tool/persona_check.h"

namespace quillwave {

void PrintTo(const PersonaKey& key, std::ostream* os) { *os << key.name; }

namespace {

const CheckedField* FieldOf(const PersonaCheck& check, std::string_view key) {
  const auto field =
      std::find_if(check.fields.begin(), check.fields.end(), [&](const CheckedField& f) { return f.key == key; });
  return field == check.fields.end() ? nullptr : &*field;
}

class PersonaKeyTest : public ::testing::TestWithParam<PersonaKey> {};

// Written in every form a persona may hold, a key changes what the launcher
// reads exactly when it changes what the tool reports, and the tool then
// points at it; the summary lists it as the table says.
TEST_P(PersonaKeyTest, LauncherToolAndSummaryAgree) {
  const PersonaKey& row = GetParam();
  const PersonaCheck unwritten = CheckPersona("{}", std::nullopt);
  for (const char* value :
       {R"("on")", R"("fallback")", R"("")", "true", "1", "false", "null", "[1]", R"({"cookies": true})"}) {
    const std::string persona = "{\"" + std::string(row.name) + "\": " + value + "}";
    const PersonaCheck check = CheckPersona(persona, std::nullopt);
    const CheckedField* field = FieldOf(check, row.name);
    if (row.shown == nullptr) {
      EXPECT_EQ(field, nullptr) << persona;
      continue;
    }
    ASSERT_NE(field, nullptr) << persona;
    const bool launcher_reads = ParsePersonaConfig(persona) != PersonaConfig{};
    EXPECT_EQ(field->json_value != FieldOf(unwritten, row.name)->json_value, launcher_reads) << persona;
    if (launcher_reads) {
      EXPECT_EQ(std::make_pair(field->line, field->column), std::make_pair(std::size_t{1}, std::size_t{2})) << persona;
    }
  }
  const std::vector<SummaryRow> listed = BuildSettingsSummary("{\"" + std::string(row.name) + "\": true}").overrides;
  EXPECT_EQ(listed.size() == 1 && listed[0].label == Widen(row.name), row.summarized);
}

INSTANTIATE_TEST_SUITE_P(EveryKey, PersonaKeyTest, ::testing::ValuesIn(PersonaKeys().begin(), PersonaKeys().end()),
                         [](const ::testing::TestParamInfo<PersonaKey>& info) {
                           std::string name(info.param.name);
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace quillwave
