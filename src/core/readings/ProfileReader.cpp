#include "readings/ProfileReader.h"

#include "base/Errors.h"
#include "base/Language.h"
#include "claude/CredentialResolver.h"
#include "codex/CodexProvider.h"
#include "usage/AnthropicAPI.h"

#include <algorithm>

namespace ProfileReader {
namespace {

// The reading's windows over `previous`: a window the reading has replaces the old one.
std::vector<UsageWindow> merged(const StatusLineReading& reading, std::vector<UsageWindow> previous,
                                Instant now) {
    for (const UsageWindow& w : StatusLineStore::windowsAt(reading, now)) {
        const auto it = std::find_if(previous.begin(), previous.end(),
                                     [&](const UsageWindow& old) { return old.key == w.key; });
        if (it != previous.end())
            *it = w;
        else
            previous.push_back(w);
    }
    return previous;
}

Outcome fromStatusLine(const StatusLineReading& reading, std::vector<UsageWindow> previous, Instant now) {
    Outcome outcome;
    outcome.source = UsageSource::statusLine;
    outcome.status = ProfileStatus::ok(merged(reading, std::move(previous), now), reading.at);
    return outcome;
}

Outcome fromEndpoint(const Services& services, const ProfileConfig& profile, const Request& request,
                     const std::optional<StatusLineReading>& reading, Instant now) {
    Outcome outcome;
    try {
        // claude's own login is not renewed here: once its access token has expired the account's
        // last status-line reading stands in, or the profile says why there is none.
        std::optional<std::string> claudeRenews;
        Token token;
        try {
            token = request.token(profile);
            const auto& expiresAt = token.credentials.expiresAt;
            if (token.claudes && expiresAt && *expiresAt <= now)
                claudeRenews = ResolveError::claudeRenews().description();
        } catch (const ResolveError& e) {
            if (e.kind() != ResolveError::Kind::claudeRenews)
                throw;
            claudeRenews = e.description();
        }
        if (claudeRenews) {
            if (reading && reading->account)
                return fromStatusLine(*reading, request.previous, now);
            outcome.status = ProfileStatus::error(*claudeRenews);
            outcome.keepsLast = true;
            return outcome;
        }
        auto windows = AnthropicAPI::usage(services.http, token.credentials.accessToken);
        if (request.includeEmail)
            outcome.email = AnthropicAPI::profileEmail(services.http, token.credentials.accessToken);
        outcome.status = ProfileStatus::ok(std::move(windows), services.clock.now());
    } catch (const APIError& e) {
        outcome.status = ProfileStatus::error(e.what());
        if (e.kind() == APIError::Kind::rateLimited) {
            outcome.rateLimited = true;
            outcome.retryAfter = e.retryAfter();
        }
    } catch (const TransportError& e) {
        // libcurl's own words are for logs: the person reads what happened and what comes next.
        outcome.status = ProfileStatus::error(
            e.timedOut() ? TR("アカウントのサーバーが時間内に応答しませんでした。次の確認でもう一度試します")
                         : TR("アカウントのサーバーに接続できませんでした。次の確認でもう一度試します"));
    } catch (const std::exception& e) {
        outcome.status = ProfileStatus::error(e.what());
    }
    return outcome;
}

} // namespace

Way wayOf(const ProfileConfig& profile) {
    if (profile.provider == Provider::codex)
        return Way::codexLog;
    return profile.usageSource == UsageSource::statusLine ? Way::statusLine : Way::endpoint;
}

std::optional<StatusLineReading> statusLineReading(const std::filesystem::path& baseDir,
                                                   const ProfileConfig& profile,
                                                   const std::filesystem::path& home) {
    auto reading = StatusLineStore::load(baseDir, profile.configDir, home);
    if (!reading)
        return std::nullopt;
    if (reading->account && reading->account == profile.accountEmail)
        return reading;
    if (wayOf(profile) == Way::statusLine && (!reading->account || !profile.accountEmail))
        return reading;
    return std::nullopt;
}

Outcome read(const Services& services, const ProfileConfig& profile, const Request& request) {
    const Instant now = services.clock.now();
    switch (wayOf(profile)) {
    case Way::codexLog: {
        Outcome outcome;
        try {
            auto windows = CodexProvider::readUsage(profile.configDir, services.home, now);
            outcome.status = ProfileStatus::ok(std::move(windows), services.clock.now());
        } catch (const std::exception& e) {
            outcome.status = ProfileStatus::error(e.what());
        }
        return outcome;
    }
    case Way::statusLine: {
        if (const auto reading = statusLineReading(request.baseDir, profile, services.home))
            return fromStatusLine(*reading, {}, now);
        Outcome outcome;
        outcome.source = UsageSource::statusLine;
        outcome.status = ProfileStatus::error(StatusLineStore::noReadingMessage(profile.configDir));
        return outcome;
    }
    case Way::endpoint:
        break;
    }
    // A recent status-line reading of the account spares the endpoint a request; the endpoint's
    // other windows stay.
    const auto reading = statusLineReading(request.baseDir, profile, services.home);
    if (reading && reading->at <= now && now - reading->at < request.statusLineFreshFor)
        return fromStatusLine(*reading, request.previous, now);
    return fromEndpoint(services, profile, request, reading, now);
}

} // namespace ProfileReader
