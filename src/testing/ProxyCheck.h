#pragma once

#include "model/ProxyRow.h"

#include <QDateTime>
#include <QString>

class SettingsStore;

// The rules of one proxy test: what may be tested, what counts as a working proxy, how its
// anonymity is judged, and what a test writes into a row.
namespace ProxyCheck {

inline constexpr int MaxParallelTests = 1024;

// Only HTTP proxies (an empty type counts as one) go through the gate page; the type is compared
// as written, so "http" is some other type.
bool isTestableType(const QString& type);
// The gate page came back through the proxy: no failure and its CGI echo is in the body.
bool gatePassed(const QString& body, int error);
// The class of a working proxy, judged by the gate body alone.
QString anonymityClass(const QString& gateBody);
// "YYYY-MM-DD HH:MM".
QString testTimeText(const QDateTime& when);
// The region page's answer as a Location cell. Line breaks and "|" would break the stored row
// apart, so they become blanks.
QString locationFromAnswer(const QString& answer);
// How many proxies a run tests at once: the stored whole number 1 ... 1024, anything else 1.
int parallelTests(const SettingsStore& store);

QString gateUrl(const QString& serviceUrl);
QString regionUrl(const QString& serviceUrl, const QString& proxy);

// What one finished test found.
struct Outcome
{
    bool passed = false;
    int seconds = 0;
    QString tested;   // testTimeText of the test
    QString location; // "" leaves the cell as it was
    QString klass;    // "" leaves the cell as it was
};

// Writes the outcome into a row's cells: "Active" Y/N, "Speed" only when it passed, "Tested",
// then "Location" and "Class" when known.
void applyOutcome(ProxyRow::Cells& cells, const Outcome& outcome);
// The text colour of every cell of a tested row.
QRgb outcomeColour(const Outcome& outcome);

} // namespace ProxyCheck
