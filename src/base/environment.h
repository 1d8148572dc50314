// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The environment the program reads: three variables and, on Linux, where
// their values come from when they are not set.
//
//   PROGRAMFILES   the folder holding the program's "Selmarin" folder.  Unset:
//                  the per-user data folder ($XDG_DATA_HOME, normally
//                  ~/.local/share), whose "Selmarin" folder is then created
//                  when missing.  When the variable is set nothing is created.
//   COMPUTERNAME   the machine's name.  Unset: the host's short name, upper case.
//   USERDNSDOMAIN  the machine's DNS domain.  Unset: the host's domain in
//                  upper case, or empty.  Found from the host name and the
//                  local files /etc/hosts and /etc/resolv.conf only, so start-up
//                  never waits for a name server.
//
// Tests replace Environment to pin all of it.

#include <QString>

#include <optional>

class Environment
{
public:
    virtual ~Environment() = default;
    // The variable's value; nothing when it is not set.
    virtual std::optional<QString> variable(const QString &name) const = 0;
    // The host name as the system gives it (possibly fully qualified).
    virtual QString hostName() const = 0;
    // The host's DNS domain from local configuration, empty when unknown.
    virtual QString localDomain() const = 0;
    // The per-user data folder.
    virtual QString dataHome() const = 0;
};

class SystemEnvironment final : public Environment
{
public:
    std::optional<QString> variable(const QString &name) const override;
    QString hostName() const override;
    QString localDomain() const override;
    QString dataHome() const override;
};

// The effective values, with the Linux defaults above applied.
QString ProgramFiles(const Environment &env);
QString ComputerName(const Environment &env);
QString UserDnsDomain(const Environment &env);

// ProgramFiles + "/Selmarin/"; with PROGRAMFILES unset, the folder is created
// when missing (failures to create it show up when the files are opened).
QString ProgramFolder(const Environment &env);

// Whether the descriptor is open on the journal's stream: JOURNAL_STREAM
// ("DEVICE:INODE" in decimal, as the service manager sets it for a service
// whose output goes to the journal) names the file it is open on.  A
// program started from that service inherits the variable, not the stream:
// the device and inode tell them apart.
bool IsJournalStream(const Environment &env, int fd);

// The domain part of a host's entries in an /etc/hosts text (the part after
// the first dot of the first fully qualified name listed for shortName).
QString DomainFromHosts(const QString &hostsText, const QString &shortName);
// The "domain" entry of an /etc/resolv.conf text.
QString DomainFromResolvConf(const QString &resolvText);
