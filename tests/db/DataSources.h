// The data sources the database tests run against: the SQLite file and the
// PostgreSQL server (through both of its drivers) that tests/db/odbc-fixture.sh
// sets up for the run, and the sample shop.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace quorrel::test {

struct DataSource {
    const char* dsn;
    const char* user;
    const char* password;
    bool server;  // PostgreSQL: checks passwords, pads CHAR columns
};

inline const DataSource kLite{"lite", "", "", false};
inline const DataSource kPgUnicode{"pgw", "app", "secret", true};
inline const DataSource kPgAnsi{"pga", "app", "secret", true};

inline const auto kAllDataSources = ::testing::Values(kLite, kPgUnicode, kPgAnsi);

inline std::string DataSourceName(const ::testing::TestParamInfo<DataSource>& info) {
    return info.param.dsn;
}

inline std::ostream& operator<<(std::ostream& out, const DataSource& source) {
    return out << source.dsn;
}

// The driver manager reads these once, before the first environment handle.
inline const bool kFixtureEnvironment = [] {
    setenv("ODBCSYSINI", QUORREL_ODBC_FIXTURE_DIR, 1);
    setenv("ODBCINI", QUORREL_ODBC_FIXTURE_DIR "/user.ini", 1);
    return true;
}();

}  // namespace quorrel::test
