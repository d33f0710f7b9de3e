#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace platform {

// The quote portal's servers by role. Base addresses are scheme, host and port, no trailing "/".
enum class ServerRole {
    TechnicalChart,
    ChartImage,
    MobileGateway,
    Quote,
    CompanyProfile,
    News,
    MessageBoard,
    Report,
};

// Base address of every server role and the whole address of the support page, read from
// servers.ini beside the program. The program never writes that file; a missing file or entry
// falls back to the built-in default, the stand-in portal on 127.0.0.1:8470. So does an entry
// that is not an absolute http or https address (a base address also without query or fragment):
// it is named, with its value, on one line of standard error.
class ServerConfig {
public:
    ServerConfig(); // the built-in defaults
    // rejected, when given, receives the lines written to standard error.
    static ServerConfig load(const QString& iniPath, QStringList* rejected = nullptr);
    // Every role on one base address, the support page at base + "/support/" (tests, benchmarks).
    static ServerConfig allAt(const QString& base);

    QString base(ServerRole role) const;
    QString supportPage() const { return m_support; }

    static constexpr const char* kDefaultBase = "http://127.0.0.1:8470";

private:
    void setAll(const QString& base);
    std::array<QString, 8> m_bases;
    QString m_support;
};

} // namespace platform
