#pragma once
// Two network namespaces, "server" and "client", joined by a veth pair with
// the addresses 10.213.7.1/24 and 10.213.7.2/24, made for one test run and
// removed with this object.  Names carry the test's process id, so runs side
// by side do not meet; pairs left behind by a run that was killed are removed
// the next time a pair is made.

#include <QString>
#include <QStringList>

class NetnsPair
{
public:
    NetnsPair() = default;
    NetnsPair(const NetnsPair &) = delete;
    NetnsPair &operator=(const NetnsPair &) = delete;
    ~NetnsPair() { remove(); }

    // False, with the reason, where namespaces cannot be made (not root, no
    // `ip`, no namespace or veth support).
    bool create(QString *why);
    void remove();

    QString server() const { return m_server; }
    QString client() const { return m_client; }

    // Runs `ip` with the arguments, at most a few seconds; false, with what
    // it wrote, when it fails.
    static bool ip(const QStringList &args, QString *why = nullptr, QString *output = nullptr);
    // Where `ip` is; empty when it is not installed.
    static QString ipPath();

private:
    static void removeStale();

    QString m_server;
    QString m_client;
    QStringList m_made;
};
