#pragma once

#include <QByteArray>
#include <QDateTime>

#include <chrono>
#include <optional>

// Reading the times a provider's answer headers give: how long it may be kept, and how long to
// wait before asking again.
namespace HttpTimes {

// How long an answer stays fresh, from its Cache-Control, Expires, Date and Age headers
// (empty arguments for missing headers). nullopt: it must not be stored at all (no-store).
// Without any freshness information the answer is kept for defaultLifetime.
std::optional<std::chrono::seconds> freshFor(const QByteArray& cacheControl, const QByteArray& expires,
                                             const QByteArray& date, const QByteArray& age,
                                             std::chrono::seconds defaultLifetime);

// The wait a Retry-After header asks for: delta-seconds or an HTTP date (relative to now).
// nullopt when the header is missing or unreadable.
std::optional<std::chrono::milliseconds> retryAfter(const QByteArray& header, const QDateTime& now);

// An HTTP date (RFC 9110's preferred form and the two obsolete ones), invalid when unreadable.
QDateTime parseHttpDate(const QByteArray& text);

} // namespace HttpTimes
