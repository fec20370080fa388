#include <gtest/gtest.h>

#include "db/dialect.h"

namespace parlix {
namespace {

struct Case {
    const char* in;
    const char* out;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << '"' << c.in << '"';
}

class DialectTranslation : public ::testing::TestWithParam<Case> {};

TEST_P(DialectTranslation, RewritesToTheEngineDialect) {
    EXPECT_EQ(translateStatement(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, DialectTranslation,
    ::testing::Values(
        Case{"SELECT top 5000 * FROM MessageQueue  WHERE [Status] = 'Queued'",
             "select * FROM MessageQueue  WHERE [Status] = 'Queued' COLLATE NOCASE LIMIT 5000"},
        Case{"select top 50 * from MessageQueue where  Status='Queued' ",
             "select * from MessageQueue where  Status='Queued' COLLATE NOCASE LIMIT 50"},
        Case{"update  MessageQueue set Status='Sent' where status='Read'",
             "update  MessageQueue set Status='Sent' where status='Read' COLLATE NOCASE"},
        Case{"update MessageQueue set DeliverStatus=? where Messageid=?",
             "update MessageQueue set DeliverStatus=? where Messageid=? COLLATE NOCASE"},
        Case{"select * from t where a='it''s' and b=?",
             "select * from t where a='it''s' COLLATE NOCASE and b=? COLLATE NOCASE"},
        Case{"select * from t where a='x' collate binary",
             "select * from t where a='x' collate binary"},
        Case{"ALTER TABLE ProxyConfig ADD COLUMN User1 TEXT(50)",
             "ALTER TABLE ProxyConfig ADD COLUMN User1 TEXT COLLATE NOCASE"},
        Case{"ALTER TABLE messagequeue ADD COLUMN DeliverDateTime Date",
             "ALTER TABLE messagequeue ADD COLUMN DeliverDateTime TEXT"},
        Case{"ALTER TABLE messagequeue ADD COLUMN SMSCount Number",
             "ALTER TABLE messagequeue ADD COLUMN SMSCount REAL"},
        Case{"CREATE INDEX MessageID_IDX ON messagequeue (MessageID)",
             "CREATE INDEX MessageID_IDX ON messagequeue (MessageID COLLATE NOCASE)"},
        Case{"select * from ProxyConfig ", "select * from ProxyConfig "}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::to_string(p.index); });

}  // namespace
}  // namespace parlix
