#pragma once
/// @file
/// DefaultTokenProvider: a token provider that keeps the token in the device
/// keychain and refreshes it through a function the application installs.

#include <corvenza/error.h>
#include <corvenza/token.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace corvenza {

namespace auth {
class TokenCache;
}

/// The library's own token provider.
///
/// It keeps the current token in memory and in the keychain (entries
/// "JwtToken" and "IdentityId" under the prefix "CorvenzaEnterprise"), so a
/// token survives restarts, and it knows when the token is about to run out
/// (less than 720 s left). It does not know how to obtain a token: the
/// application, or a derived class such as DirectTokenProvider, installs a
/// refresh function.
///
/// Tokens belong to an account (see keychainAccount()): each account has its
/// own pair of keychain entries, so one user's or one service's token is never
/// handed to another. Concurrent refreshes of one account share a single call
/// of the refresh function.
///
/// Hold it in a std::shared_ptr: a refresh completes through a weak
/// reference, so a provider not owned by a shared_ptr never stores a
/// refreshed token. Every operation is thread-safe; derived classes may
/// override any of them, and the operations reach one another only through
/// these virtual entry points.
class DefaultTokenProvider : public CorvenzaTokenProvider,
                             public std::enable_shared_from_this<DefaultTokenProvider> {
 public:
  /// Receives (token, nothing) on success, or (nothing, error or nothing) on
  /// failure. Called exactly once per request, on the thread stated by the
  /// operation that takes it.
  using TokenCallback =
      std::function<void(std::optional<CorvenzaToken> token, std::optional<Error> error)>;
  /// Obtains a new token and calls the completion once, on any thread, at
  /// any later time (or at once). It must not wait for the thread it was
  /// called on.
  using RestoreTokenBlock = std::function<void(TokenCallback completion)>;

  /// Internal collaborators (key store, clock, transport); defined inside the
  /// library only, so applications cannot make one.
  struct Environment;

  /// A provider on the device keychain, with no token and no refresh function.
  DefaultTokenProvider();
  /// A provider on the given collaborators (used by the library's tests).
  explicit DefaultTokenProvider(std::shared_ptr<const Environment> environment);
  ~DefaultTokenProvider() override;
  DefaultTokenProvider(const DefaultTokenProvider&) = delete;
  DefaultTokenProvider& operator=(const DefaultTokenProvider&) = delete;

  /// The current token, or nothing.
  std::optional<CorvenzaToken> token() const override;
  /// Replaces the current token, then calls saveToKeyChain().
  void setToken(std::optional<CorvenzaToken> token) override;

  /// The installed refresh function, or an empty function.
  virtual RestoreTokenBlock restoreTokenBlock() const;
  /// Installs @p block as the refresh function (an empty one removes it).
  virtual void setRestoreTokenBlock(RestoreTokenBlock block);

  /// A usable token: loads the keychain when no token is held; answers at
  /// once, on the calling thread, with (token, nothing) unless it is nearly
  /// expired, in which case it calls restoreToken(@p callback).
  virtual void ensureToken(TokenCallback callback);

  /// Runs the refresh function. Its answer is stored as the current token
  /// (nothing included, which empties the keychain) and then handed to
  /// @p callback unchanged, on the thread on which the refresh completed.
  /// When the provider is gone by then, only @p callback runs.
  /// While a refresh of the same account is in flight, @p callback joins it
  /// instead of starting another: every caller gets the one outcome. A
  /// refresh that has not answered within 60 s no longer takes new callers.
  /// A refresh that answers after the account changed stores its token under
  /// the account it was started for, not as the current token.
  /// With no refresh function installed, @p callback runs at once with
  /// (nothing, CorvenzaError unexpectedError) and the token is kept.
  virtual void restoreToken(TokenCallback callback);

  /// True when there is no token, it is empty or malformed, or it has expired.
  /// Prints "Warning: malformed JWT token" for a malformed token.
  virtual bool isTokenExpired() const;
  /// True when isTokenExpired() would be, when the token has no expiry, or
  /// when less than 720 s of validity remain (exactly 720 s is not yet nearly
  /// expired). Prints the same warning for a malformed token.
  virtual bool isTokenNearlyExpired() const;

  /// Writes the token's two fields to the keychain, or deletes both entries
  /// when there is no token. Keychain failures are not reported.
  virtual void saveToKeyChain();
  /// Reads both entries (a missing one reads as "") and sets them as the
  /// current token, which writes them back.
  virtual void loadFromKeyChain();
  /// Forgets the token and deletes both keychain entries of the current
  /// account. A refresh still in flight is let go: its answer reaches its
  /// callers but is not stored, and the next ensureToken() starts afresh.
  virtual void clear();

  /// Whose token this provider keeps; empty (the default) for the plain
  /// entries "JwtToken" and "IdentityId", any other text for a pair of
  /// entries of that account's own. DirectTokenProvider sets it from its
  /// service URL, API key and user id.
  std::string keychainAccount() const;
  /// Switches to @p account. The token held in memory is dropped (stored
  /// tokens stay), so the next ensureToken() loads or fetches the token of
  /// @p account. No effect when @p account is already current.
  virtual void setKeychainAccount(std::string account);

 protected:
  /// The collaborators this provider was made with.
  const std::shared_ptr<const Environment>& environment() const { return environment_; }

  /// Switches to @p account as setKeychainAccount() does and runs @p change
  /// (a change of what the refresh function reads) at the same moment, while
  /// no refresh can start, so a refresh never pairs one account with another
  /// account's settings.
  void changeAccount(std::string account, const std::function<void()>& change);

 private:
  // The library keeps the account's cloud credentials next to its token.
  friend class auth::TokenCache;

  struct Refresh;
  void finishRefresh(const std::shared_ptr<Refresh>& refresh, std::optional<CorvenzaToken> token,
                     std::optional<Error> error);

  std::shared_ptr<const Environment> environment_;
  mutable std::mutex mutex_;
  std::optional<CorvenzaToken> token_;
  std::string account_;
  RestoreTokenBlock restoreTokenBlock_;
  // The refresh in flight, which later callers of the same account join.
  std::shared_ptr<Refresh> refresh_;
  // Held while a refresh starts and while the account changes. Recursive: a
  // refresh function may answer at once, and its callers may ask again.
  std::recursive_mutex refreshStartMutex_;
  // Keeps each token change and its keychain write together, so the keychain
  // ends up with the last token set. Recursive: loadFromKeyChain sets the token.
  std::recursive_mutex keychainMutex_;
};

}  // namespace corvenza
