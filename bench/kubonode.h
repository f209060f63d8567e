#pragma once

#include <QString>

// A real Kubo, offline, with a fresh repository, started only through the shared start script
// (it keeps the node from dialling anything beyond this machine) and stopped with this object.
class KuboNode
{
public:
    explicit KuboNode(const QString& startScript);
    ~KuboNode(); // stops the daemon and removes its repository
    KuboNode(const KuboNode&) = delete;
    KuboNode& operator=(const KuboNode&) = delete;

    bool isRunning() const { return apiPort != 0; }
    QString failure() const { return failureText; } // why it did not start
    quint16 port() const { return apiPort; }

    // One multipart "/add" of `files` small files, each its own root and so each pinned; returns
    // the entries the node reported, or -1 with the reason in failure().
    int addSmallFiles(int files);

private:
    quint16 apiPort = 0;
    qint64 pid = 0;
    QString repo;
    QString failureText;
};
