#pragma once

#include <QString>
#include <memory>

namespace store {

// Which copies of the program have an alias open. Each copy holds a shared
// POSIX lock on a side file of the alias's folder ("open.lck") for as long as
// it has the tables open; a command that replaces the tables whole takes the
// lock exclusively, which it gets only when no other copy holds it. The
// operating system drops the locks of a process that ends, however it ends.
// POSIX locks belong to the process and closing any descriptor of the file
// drops them all, so every holder in one process shares one descriptor; the
// table files' own descriptors are never involved.
class AliasPresence
{
public:
    // Registers this process as a user of the alias. While another copy holds
    // the alias exclusively (it is restoring the tables) it waits a few
    // seconds, then throws StoreError. A side file that cannot be opened (a
    // folder this user may not write) registers nothing: the store refuses
    // such tables with its own message.
    explicit AliasPresence(const QString &alias);
    ~AliasPresence();
    AliasPresence(const AliasPresence &) = delete;
    AliasPresence &operator=(const AliasPresence &) = delete;

    struct Shared; // the descriptor, the holders and the exclusive scopes of this process

private:
    std::shared_ptr<Shared> m_shared;
};

// The alias for this process alone while the scope lives: no other copy has
// it open, and none can register until the scope ends (then this process's
// own registrations are shared again).
class ExclusiveAliasUse
{
public:
    explicit ExclusiveAliasUse(const QString &alias);
    ~ExclusiveAliasUse();
    ExclusiveAliasUse(const ExclusiveAliasUse &) = delete;
    ExclusiveAliasUse &operator=(const ExclusiveAliasUse &) = delete;

    // False when another copy has the alias open (the scope then holds nothing).
    bool acquired() const { return m_acquired; }

private:
    std::shared_ptr<AliasPresence::Shared> m_shared;
    bool m_acquired = false;
};

} // namespace store
