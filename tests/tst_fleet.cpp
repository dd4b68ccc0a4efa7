#include "LanHarness.h"
#include "SimulatorProcess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>

namespace {

const QStringList kSites{QStringLiteral("depot-north"), QStringLiteral("depot-south")};
// The tasks of the role that run the batch, check it (check mode), and run
// it again for the rows the host's probe budget refused.
const QString kBatchTask = QStringLiteral("Give each adaptor of the site its address");
const QString kCheckTask = QStringLiteral("Check each adaptor of the site");
const QString kRetryTask = QStringLiteral("Try again the rows the host's probe budget refused");
// The sites' helpers' folder: the test's own, bound over the host's in the
// sites' mount namespace, so that holding its probe budget refuses the
// sites' probes and no other program's on the host.
const char* const kSitesRunFolder = "run-netrika";
// Where the role puts the package it installs, root's folder.
const QString kDebFolder = QStringLiteral("/var/cache/netrika");

// The files of the README's example of many sites, as written there: each
// fenced block after a line "<!-- fleet example: NAME -->".
QMap<QString, QByteArray> readmeExample() {
    QFile readme(QStringLiteral(NETRIKA_SOURCE_DIR "/README.md"));
    QMap<QString, QByteArray> files;
    if (!readme.open(QIODevice::ReadOnly))
        return files;
    static const QRegularExpression marker(QStringLiteral("^<!-- fleet example: (\\S+) -->$"));
    QString name;
    bool inside = false;
    for (const QByteArray& line : readme.readAll().split('\n')) {
        if (inside && line.startsWith("```")) {
            inside = false;
            name.clear();
        } else if (inside) {
            files[name] += line + '\n';
        } else if (const auto m = marker.match(QString::fromUtf8(line)); m.hasMatch()) {
            name = m.captured(1);
        } else if (!name.isEmpty() && line.startsWith("```")) {
            inside = true;
        }
    }
    return files;
}

// IPv4 packets that reached a namespace's kernel (Ip: InReceives): whatever
// but ARP came to an adaptor's interface, for a local address or not.
// A counter of the kernel's IP statistics in a namespace: the value under
// the name in the first pair of lines that begin with the prefix.
qint64 counterIn(const QString& ns, const char* file, const QByteArray& prefix, const QByteArray& name) {
    QProcess p;
    p.start(QStringLiteral("ip"), {"netns", "exec", ns, "cat", QLatin1String(file)});
    p.waitForFinished(10000);
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith(prefix) || !lines[i + 1].startsWith(prefix))
            continue;
        const int at = int(lines[i].simplified().split(' ').indexOf(name));
        return at < 0 ? -1 : lines[i + 1].simplified().split(' ').value(at).toLongLong();
    }
    return -1;
}

// IPv4 packets delivered in the namespace, to the adaptor itself: what the
// bridge floods to every port while it has not learnt a host's MAC reaches
// the simulator's interface too, but is no packet to the adaptor.
qint64 ipPacketsIn(const QString& ns) {
    return counterIn(ns, "/proc/net/snmp", "Ip: ", "InDelivers");
}

// A file's owner and permission bits, -1 when it is not there.
struct Owned {
    int uid = -1;
    int mode = -1;
};
Owned ownedBy(const QString& file) {
    struct stat st {};
    if (::lstat(QFile::encodeName(file).constData(), &st) != 0)
        return {};
    return {int(st.st_uid), int(st.st_mode & 07777)};
}

QByteArray contentOf(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray run(const QString& program, const QStringList& args, int* status = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ended = p.waitForFinished(30000);
    if (status)
        *status = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAll();
}

struct Adaptor {
    QString mac;
    int last; // the address's last byte on the site's segment
};

// One site: a host with an sshd of its own on the management link, and a
// segment of simulated adaptors behind it.
struct Site {
    QString name;
    int subnet;
    std::unique_ptr<LanHarness> lan;
    std::vector<std::unique_ptr<SimulatorProcess>> sims;
    std::vector<Adaptor> adaptors;
    QProcess sshd;

    QString address(int k) const { return QStringLiteral("10.77.%1.%2").arg(subnet).arg(adaptors[k].last); }
    QString gateway() const { return QStringLiteral("10.77.%1.254").arg(subnet); }
    int connections() const {
        int n = 0;
        for (const auto& s : sims)
            n += int(s->summary().value(QStringLiteral("connections")).toArray().size());
        return n;
    }
    QByteArray permanentEntries() const {
        QString error;
        return NetnsHarness::runIp({"-n", lan->hostNs(), "-4", "neigh", "show", "nud", "permanent"}, error)
            .trimmed();
    }
    // Whether a netrika-cli runs on the site's host.
    bool running() const {
        for (const QByteArray& pid :
             run(QStringLiteral("ip"), {"netns", "pids", lan->hostNs()}).split('\n')) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid.trimmed())));
            if (!pid.trimmed().isEmpty() && comm.open(QIODevice::ReadOnly) &&
                comm.readAll() == "netrika-cli\n")
                return true;
        }
        return false;
    }
};

// What ansible-playbook's JSON callback said of one run.
struct Play {
    int exit = -1;
    QJsonObject output;
    QByteArray errors;
    qint64 ms = 0;

    QJsonObject stats(const QString& host) const {
        return output.value(QStringLiteral("stats")).toObject().value(host).toObject();
    }
    QJsonObject result(const QString& task, const QString& host) const {
        for (const QJsonValue& play : output.value(QStringLiteral("plays")).toArray())
            for (const QJsonValue& t : play.toObject().value(QStringLiteral("tasks")).toArray())
                if (t.toObject()
                        .value(QStringLiteral("task"))
                        .toObject()
                        .value(QStringLiteral("name"))
                        .toString()
                        .endsWith(task))
                    return t.toObject().value(QStringLiteral("hosts")).toObject().value(host).toObject();
        return {};
    }
    // The recap, each failed task's message and Ansible's own errors.
    QString said() const {
        QString failed;
        for (const QJsonValue& play : output.value(QStringLiteral("plays")).toArray())
            for (const QJsonValue& t : play.toObject().value(QStringLiteral("tasks")).toArray()) {
                const QJsonObject hosts = t.toObject().value(QStringLiteral("hosts")).toObject();
                for (auto h = hosts.begin(); h != hosts.end(); ++h)
                    if (h.value().toObject().value(QStringLiteral("failed")).toBool())
                        failed +=
                            QStringLiteral("%1: %2: %3\n")
                                .arg(h.key(),
                                     t.toObject()
                                         .value(QStringLiteral("task"))
                                         .toObject()
                                         .value(QStringLiteral("name"))
                                         .toString(),
                                     h.value().toObject().value(QStringLiteral("msg")).toString().left(600));
            }
        return QString::fromUtf8(QJsonDocument(output.value(QStringLiteral("stats")).toObject()).toJson()) +
               failed + QString::fromUtf8(errors.right(3000));
    }
};

} // namespace

// The collection netrika.fleet as its user runs it: the README's example of
// many sites, run by a real ansible-playbook in a controller's namespace over
// real SSH to two sites, each a namespace with an sshd of its own and a
// segment of simulated adaptors of both families behind it.
class TestFleet : public QObject {
    Q_OBJECT
    QTemporaryDir work;
    QString controller;
    std::vector<std::unique_ptr<Site>> sites;
    QString problem;
    int root = -1;
    qint64 oneSiteFirstMs = 0; // a first run of one site alone, for the figure of both

    QString path(const QString& name) const { return work.filePath(name); }

    bool ip(const QStringList& args) {
        if (NetnsHarness::runIp(args, problem).isNull()) {
            problem = args.join(' ') + ": " + problem;
            return false;
        }
        return true;
    }
    bool write(const QString& name, const QByteArray& content, QFile::Permissions mode = {}) {
        QFile f(path(name));
        const bool ok =
            f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
        f.close();
        return ok && (mode == QFile::Permissions() || f.setPermissions(mode));
    }

    // Runs the example's play; extra: ansible-playbook's further arguments.
    Play play(const QStringList& extra, const std::function<void(QProcess&)>& meanwhile = {}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("ANSIBLE_COLLECTIONS_PATH"), path(QStringLiteral("collections")));
        env.insert(QStringLiteral("ANSIBLE_STDOUT_CALLBACK"), QStringLiteral("json"));
        env.insert(QStringLiteral("ANSIBLE_LOCAL_TEMP"), path(QStringLiteral("home/tmp")));
        env.insert(QStringLiteral("ANSIBLE_REMOTE_TEMP"), path(QStringLiteral("remote-tmp")));
        env.insert(QStringLiteral("ANSIBLE_HOST_KEY_CHECKING"), QStringLiteral("False"));
        env.insert(QStringLiteral("ANSIBLE_RETRY_FILES_ENABLED"), QStringLiteral("False"));
        env.insert(QStringLiteral("ANSIBLE_NOCOLOR"), QStringLiteral("1"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(path(QStringLiteral("play")));
        // A group of its own, so that the whole controller (its workers and
        // their ssh) can be killed at once.
        p.setChildProcessModifier([] {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        });
        QElapsedTimer clock;
        clock.start();
        p.start(QStringLiteral("ip"), QStringList{"netns", "exec", controller, "ansible-playbook", "-i",
                                                  "inventory.yml", "site.yml", "-e", "@fleet-test.yml"} +
                                          extra);
        Play result;
        if (!p.waitForStarted(10000))
            return result;
        if (meanwhile)
            meanwhile(p);
        p.waitForFinished(600000);
        result.ms = clock.elapsed();
        result.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        const QByteArray out = p.readAllStandardOutput();
        result.errors = p.readAllStandardError();
        result.output = QJsonDocument::fromJson(out.mid(out.indexOf('{'))).object();

        return result;
    }

    bool setUp() {
        if (QStandardPaths::findExecutable(QStringLiteral("ansible-playbook")).isEmpty() ||
            !QFile::exists(QStringLiteral("/usr/sbin/sshd"))) {
            problem = QStringLiteral("ansible-playbook (ansible-core) and sshd (openssh-server) are needed");
            return false;
        }
        const QString tag = QString::number(::getpid());
        controller = QStringLiteral("nk-fc-") + tag;
        const QString bridge = QStringLiteral("nkfb") + tag;
        NetnsHarness::sweepStale();
        if (!ip({"netns", "add", controller}) || !ip({"-n", controller, "link", "set", "lo", "up"}) ||
            !ip({"-n", controller, "link", "add", bridge, "type", "bridge"}) ||
            !ip({"-n", controller, "addr", "add", "10.77.140.1/24", "dev", bridge}) ||
            !ip({"-n", controller, "link", "set", bridge, "up"}))
            return false;
        int status = 0;
        QDir().mkpath(QStringLiteral("/run/sshd")); // sshd's own empty folder
        for (const QString& key : {QStringLiteral("client"), QStringLiteral("host")}) {
            run(QStringLiteral("ssh-keygen"),
                {"-q", "-t", "ed25519", "-N", "", "-C", "netrika-fleet-test", "-f", path(key)}, &status);
            if (status != 0) {
                problem = QStringLiteral("ssh-keygen failed");
                return false;
            }
        }
        QFile::copy(path(QStringLiteral("client.pub")), path(QStringLiteral("authorized_keys")));
        // The sites' helpers' folder, laid out as the package lays out the host's.
        const group* members = ::getgrnam("netrika");
        const QByteArray runFolder = path(QString::fromLatin1(kSitesRunFolder)).toLocal8Bit();
        if (members == nullptr || !QDir().mkpath(QString::fromLocal8Bit(runFolder)) ||
            ::chown(runFolder.constData(), 0, members->gr_gid) != 0 || ::chmod(runFolder.constData(), 03770) != 0 ||
            !QFileInfo(QStringLiteral("/run/netrika")).isDir()) {
            problem = QStringLiteral("the group netrika and /run/netrika are needed (tools/test.sh makes them)");
            return false;
        }
        for (const char* name : {"probes", "sweep"}) {
            const QByteArray file = runFolder + '/' + name;
            QFile(QString::fromLocal8Bit(file)).open(QIODevice::WriteOnly);
            if (::chown(file.constData(), 0, members->gr_gid) != 0 || ::chmod(file.constData(), 0660) != 0) {
                problem = QStringLiteral("the sites' helpers' folder cannot be laid out");
                return false;
            }
        }
        for (int k = 1; k <= int(kSites.size()); ++k) {
            auto site = std::make_unique<Site>();
            site->name = kSites[k - 1];
            site->subnet = 140 + k;
            // Both families in the example's rows; three more of family 2
            // (the neighbour entry's route) for the later runs.
            const QString n = QString::number(k);
            site->adaptors = {{"00-20-4a-14-0" + n + "-01", 21},
                              {"00-80-a3-14-0" + n + "-02", 22},
                              {"00-80-a3-14-0" + n + "-03", 23},
                              {"00-80-a3-14-0" + n + "-04", 24},
                              {"00-80-a3-14-0" + n + "-05", 25}};
            site->lan = std::make_unique<LanHarness>(site->subnet, int(site->adaptors.size()), k);
            if (!site->lan->ok()) {
                problem = site->lan->error();
                return false;
            }
            for (int d = 0; d < int(site->adaptors.size()); ++d) {
                site->sims.push_back(std::make_unique<SimulatorProcess>(
                    site->lan->deviceNs(d), site->lan->deviceInterface(d), site->adaptors[d].mac));
                if (!site->sims.back()->ready()) {
                    problem = QStringLiteral("a simulator did not start");
                    return false;
                }
            }
            // The management link: the site's host on the controller's bridge.
            const QString near = QStringLiteral("nkm%1c%2").arg(k).arg(tag);
            const QString far = QStringLiteral("nkm%1s%2").arg(k).arg(tag);
            const QString address = QStringLiteral("10.77.140.1%1").arg(k);
            if (!ip({"link", "add", near, "netns", controller, "type", "veth", "peer", "name", far, "netns",
                     site->lan->hostNs()}) ||
                !ip({"-n", controller, "link", "set", near, "master", bridge, "up"}) ||
                !ip({"-n", site->lan->hostNs(), "addr", "add", address + "/24", "dev", far}) ||
                !ip({"-n", site->lan->hostNs(), "link", "set", far, "up"}))
                return false;
            const QString config = QStringLiteral("sshd-%1.conf").arg(k);
            write(config,
                  QStringLiteral("ListenAddress %1\n"
                                 "HostKey %2\n"
                                 "PidFile %3\n"
                                 "AuthorizedKeysFile %4\n"
                                 "PermitRootLogin prohibit-password\n"
                                 "PasswordAuthentication no\n"
                                 "KbdInteractiveAuthentication no\n"
                                 "UsePAM no\n"
                                 "StrictModes no\n"
                                 "Subsystem sftp internal-sftp\n")
                      .arg(address, path(QStringLiteral("host")), path(QStringLiteral("sshd-%1.pid").arg(k)),
                           path(QStringLiteral("authorized_keys")))
                      .toUtf8());
            site->sshd.setStandardErrorFile(path(QStringLiteral("sshd-%1.log").arg(k)));
            site->sshd.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
            // In a mount namespace of its own, where the helpers' folder is the test's.
            site->sshd.start(QStringLiteral("unshare"),
                             {"--mount", "--propagation", "private", "sh", "-c",
                              "mount --bind \"$1\" /run/netrika && exec ip netns exec \"$2\" /usr/sbin/sshd "
                              "-D -e -f \"$3\"",
                              "sh", path(QString::fromLatin1(kSitesRunFolder)), site->lan->hostNs(), path(config)});
            // Its log is the test's own file: only a failing play looks at it.
            if (!site->sshd.waitForStarted(5000)) {
                problem = QStringLiteral("sshd did not start");
                return false;
            }
            sites.push_back(std::move(site));
        }
        // The collection from the source tree, where Ansible looks for it.
        QDir().mkpath(path(QStringLiteral("collections/ansible_collections/netrika")));
        QDir().mkpath(path(QStringLiteral("home/tmp")));
        QDir().mkpath(path(QStringLiteral("play")));
        QFile::link(QStringLiteral(NETRIKA_SOURCE_DIR "/ansible"),
                    path(QStringLiteral("collections/ansible_collections/netrika/fleet")));
        const auto example = readmeExample();
        for (const QString& name :
             {QStringLiteral("inventory.yml"), QStringLiteral("adaptors.csv"), QStringLiteral("site.yml")}) {
            if (!example.contains(name)) {
                problem = QStringLiteral("the README's example has no %1").arg(name);
                return false;
            }
            write(QStringLiteral("play/") + name, example.value(name));
        }
        // The test's own: the key, no known hosts, no GSSAPI (there is no
        // name service here), each module sent down its connection rather
        // than copied first (a session takes a good part of a second to
        // start here), this build's netrika-cli with the short tick the
        // other end-to-end tests use, and a work folder for each site, since
        // all sites share this machine's files.
        // A sanitizer's settings, which SSH does not carry, go in the script.
        QByteArray wrapper = "#!/bin/sh\n";
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(name))
                wrapper += QByteArray("export ") + name + "='" + qgetenv(name) + "'\n";
        wrapper += "command=\"$1\"\nshift\nexec " NETRIKA_CLI " \"$command\" --tick-ms 150 \"$@\"\n";
        write(QStringLiteral("netrika-cli"), wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        write(QStringLiteral("play/fleet-test.yml"),
              QStringLiteral(
                  "ansible_ssh_private_key_file: %1\n"
                  "ansible_ssh_common_args: -o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no"
                  " -o GSSAPIAuthentication=no\n"
                  "ansible_python_interpreter: /usr/bin/python3\n"
                  "ansible_pipelining: true\n"
                  "netrika_cli: %2\n"
                  "netrika_work_dir: \"%3/{{ inventory_hostname }}\"\n")
                  .arg(path(QStringLiteral("client")), path(QStringLiteral("netrika-cli")),
                       path(QStringLiteral("sites")))
                  .toUtf8());
        // Each sshd answers before the first play.
        for (const auto& site : sites) {
            const QString address = QStringLiteral("10.77.140.1%1").arg(&site - &sites.front() + 1);
            QElapsedTimer waited;
            waited.start();
            do {
                run(QStringLiteral("ip"),
                    {"netns", "exec", controller, "ssh", "-i", path(QStringLiteral("client")), "-o",
                     "UserKnownHostsFile=/dev/null", "-o", "StrictHostKeyChecking=no", "-o", "BatchMode=yes",
                     "-o", "ConnectTimeout=2", "root@" + address, "true"},
                    &status);
            } while (status != 0 && waited.elapsed() < 15000 && (QTest::qWait(200), true));
            if (status != 0) {
                problem = QStringLiteral("the sshd of %1 does not answer").arg(site->name);
                return false;
            }
        }
        return true;
    }

    // The rows of both sites' adaptors k, as an inventory-wide CSV.
    QByteArray rowsOf(const QList<int>& ks, const QString& silentAt = {}) const {
        QByteArray csv = "site,mac,ip,mask,gateway\n";
        for (const auto& site : sites) {
            for (int k : ks)
                csv += QStringLiteral("%1,%2,%3,255.255.255.0,%4\n")
                           .arg(site->name, site->adaptors[k].mac, site->address(k), site->gateway())
                           .toUtf8();
            if (site->name == silentAt)
                csv += QStringLiteral("%1,00-80-a3-14-09-99,10.77.%2.99,255.255.255.0,%3\n")
                           .arg(site->name)
                           .arg(site->subnet)
                           .arg(site->gateway())
                           .toUtf8();
        }
        return csv;
    }

private slots:
    void initTestCase() {
        root = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const bool ok = work.isValid() && setUp();
        if (!ok) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL(qPrintable(QStringLiteral("the sites are needed: ") + problem));
            QSKIP(qPrintable(QStringLiteral("the sites cannot be made: ") + problem));
        }
    }
    void cleanupTestCase() {
        for (const auto& site : sites) {
            site->sshd.terminate();
            site->sshd.waitForFinished(5000);
        }
        sites.clear();
        if (!controller.isEmpty())
            NetnsHarness::runIp({"netns", "del", controller}, problem);
        if (root >= 0)
            ::close(root);
    }

    // Catches a check that reaches an adaptor: under --check each site only
    // reads and checks its rows; not one IPv4 packet is delivered to an adaptor
    // (ARP is not counted), and the change a run would make is
    // told for each site.
    void checkSendsNothingButArp() {
        std::map<QString, qint64> before;
        for (const auto& site : sites)
            for (int k = 0; k < int(site->adaptors.size()); ++k)
                before[site->lan->deviceNs(k)] = ipPacketsIn(site->lan->deviceNs(k));
        const Play checked = play({"--check"});
        QVERIFY2(checked.exit == 0, qPrintable(checked.said()));
        for (const auto& site : sites) {
            QCOMPARE(checked.stats(site->name).value("failures").toInt(), 0);
            const QJsonObject batch = checked.result(kCheckTask, site->name);
            QVERIFY2(batch.value("changed").toBool(), qPrintable(checked.said()));
            QCOMPARE(batch.value("rows").toArray().size(), 2);
            for (int k = 0; k < int(site->adaptors.size()); ++k) {
                QCOMPARE(ipPacketsIn(site->lan->deviceNs(k)), before[site->lan->deviceNs(k)]);
                QCOMPARE(site->sims[k]->summary().value("datagrams").toArray().size(), 0);
            }
            QCOMPARE(site->connections(), 0);
        }
    }

    // Catches a sheet read as text on the controller: in check mode the
    // fleet's sheet goes to each site's netrika-cli as its bytes, so one
    // saved in Windows-1252 or UTF-16 (a name with an e acute) is checked
    // as a UTF-8 one is, each site's two rows.
    void checkReadsSheetsInEveryEncoding_data() {
        QTest::addColumn<int>("encoding");
        QTest::newRow("ok_windows_1252") << int(QStringConverter::Latin1);
        QTest::newRow("ok_utf16_with_bom") << int(QStringConverter::Utf16);
    }
    void checkReadsSheetsInEveryEncoding() {
        QFETCH(int, encoding);
        const QString sheet = QString::fromUtf8(readmeExample().value(QStringLiteral("adaptors.csv")))
                                  .replace(QStringLiteral("Gate 1"), QStringLiteral("Entr\u00e9e 1"));
        QStringEncoder encode(QStringConverter::Encoding(encoding), QStringConverter::Flag::WriteBom);
        const QByteArray bytes = encode(sheet);
        QVERIFY(!bytes.contains("\xc3\xa9")); // not UTF-8
        QVERIFY(write(QStringLiteral("play/sheet.csv"), bytes));
        const Play checked = play({"--check", "-e", "netrika_inventory_csv=sheet.csv"});
        QVERIFY2(checked.exit == 0, qPrintable(checked.said()));
        for (const auto& site : sites) {
            const QJsonObject batch = checked.result(kCheckTask, site->name);
            QVERIFY2(!batch.value("failed").toBool(), qPrintable(batch.value("msg").toString()));
            QCOMPARE(batch.value("rows").toArray().size(), 2);
        }
    }

    // Catches a package installed from where another user can write: the
    // role copies it into root's own folder as a new file of root's, and
    // apt reads that copy; a file planted with the package's content, at
    // /var/tmp where the role used to copy it, or in the folder while it was
    // someone else's and held open for writing, is neither installed nor
    // kept. The package is for another architecture, so apt reads it and
    // refuses it, and this machine's packages are left as they are.
    void packageCopiedIntoRootsFolder() {
        const QString name = QStringLiteral("netrika-fleet-test-%1.deb").arg(::getpid());
        const QByteArray arch = run(QStringLiteral("dpkg"), {"--print-architecture"}).trimmed();
        QVERIFY(QDir().mkpath(path(QStringLiteral("deb/DEBIAN"))));
        QVERIFY(write(QStringLiteral("deb/DEBIAN/control"),
                      "Package: netrika-fleet-test\nVersion: 1.0\nArchitecture: " +
                          QByteArray(arch == "s390x" ? "amd64" : "s390x") +
                          "\nMaintainer: Netrika developers <netrika@netrika.example>\n"
                          "Description: the fleet test's package, of an architecture not this host's\n"));
        int status = -1;
        run(QStringLiteral("dpkg-deb"),
            {"--root-owner-group", "--build", path(QStringLiteral("deb")),
             path(QStringLiteral("play/") + name)},
            &status);
        QCOMPARE(status, 0);
        const QByteArray deb = contentOf(path(QStringLiteral("play/") + name));
        QVERIFY(!deb.isEmpty());

        // What a user could have planted, with the package's content.
        const struct passwd* nobody = ::getpwnam("nobody");
        QVERIFY(nobody != nullptr);
        const QString planted = QStringLiteral("/var/tmp/") + name;
        const QString copy = kDebFolder + QLatin1Char('/') + name;
        const bool folderThere = QFileInfo::exists(kDebFolder);
        const auto removed = qScopeGuard([&] {
            QFile::remove(planted);
            QFile::remove(copy);
            if (!folderThere)
                QDir().rmdir(kDebFolder);
        });
        QVERIFY(QDir().mkpath(kDebFolder));
        if (!folderThere)
            QVERIFY(::chown(QFile::encodeName(kDebFolder).constData(), nobody->pw_uid, nobody->pw_gid) == 0 &&
                    ::chmod(QFile::encodeName(kDebFolder).constData(), 0777) == 0);
        for (const QString& file : {planted, copy}) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(deb) == deb.size());
            f.close();
            QVERIFY(::chown(QFile::encodeName(file).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
        }
        QFile held(copy); // the planter's, open for writing all along
        QVERIFY(held.open(QIODevice::ReadWrite));

        const Play played = play({"--limit", kSites[0], "-e",
                                  QStringLiteral("netrika_deb=") + path(QStringLiteral("play/") + name)});
        QVERIFY2(played.exit != 0, qPrintable(played.said()));
        const QJsonObject install = played.result(QStringLiteral("Install the package"), kSites[0]);
        QVERIFY2(install.value("msg").toString().contains(QLatin1String("Wrong architecture")),
                 qPrintable(played.said()));
        QCOMPARE(
            install.value("invocation").toObject().value("module_args").toObject().value("deb").toString(),
            copy);
        QCOMPARE(ownedBy(kDebFolder).uid, 0);
        QCOMPARE(ownedBy(kDebFolder).mode, 0755);
        QCOMPARE(ownedBy(copy).uid, 0);
        QCOMPARE(ownedBy(copy).mode, 0644);
        QVERIFY(held.write("planted") == 7 && held.flush());
        QCOMPARE(contentOf(copy), deb);
        // The old place is no longer the role's: what stands there is left.
        QCOMPARE(ownedBy(planted).uid, int(nobody->pw_uid));
    }

    // The first run of one site alone, for the figure of both at once. The
    // site is then as new again: its adaptors' state, the host's neighbour
    // table, the work folder and the controller's copies.
    void firstRunOfOneSite() {
        Site& site = *sites[0];
        const Play alone = play({"--limit", site.name});
        QVERIFY2(alone.exit == 0, qPrintable(alone.said()));
        QVERIFY(alone.result(kBatchTask, site.name).value("changed").toBool());
        QCOMPARE(site.sims[0]->config().value("ip").toString(), site.address(0));
        oneSiteFirstMs = alone.ms;
        for (int d = 0; d < int(site.sims.size()); ++d) {
            site.sims[d].reset(); // the address it took stays on its interface
            QVERIFY(ip({"-n", site.lan->deviceNs(d), "addr", "flush", "dev", site.lan->deviceInterface(d)}));
            site.sims[d] = std::make_unique<SimulatorProcess>(site.lan->deviceNs(d), site.lan->deviceInterface(d),
                                                              site.adaptors[d].mac);
            QVERIFY(site.sims[d]->ready());
        }
        QVERIFY(ip({"-n", site.lan->hostNs(), "neigh", "flush", "all"}));
        QVERIFY(QDir(path(QStringLiteral("sites/") + site.name)).removeRecursively());
        QVERIFY(QDir(path(QStringLiteral("play/netrika-reports/") + site.name)).removeRecursively());
    }

    // Catches sites run one after another, a dialogue changed on the way, or
    // a report or log left on its site: one run gives every adaptor of the
    // example its address, the dialogues as the adaptors must see them, and
    // brings each site's report and logs to the controller.
    void bothSitesAtOnce() {
        // Seen on both sites' hosts at one moment: a netrika-cli of each.
        // A log an earlier run left readable by all, as the runs before the
        // logs were kept the user's alone did.
        for (const auto& site : sites) {
            QVERIFY(QDir().mkpath(path(QStringLiteral("sites/%1/logs").arg(site->name))));
            QVERIFY(write(QStringLiteral("sites/%1/logs/%2.log").arg(site->name, site->adaptors[0].mac),
                          "an earlier run\n",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        bool together = false;
        QElapsedTimer clock;
        qint64 first[2] = {-1, -1}, last[2] = {-1, -1};
        const Play played = play({}, [&](QProcess& p) {
            clock.start();
            while (p.state() != QProcess::NotRunning) {
                bool both = true;
                for (int s = 0; s < 2; ++s) {
                    const bool now = sites[s]->running();
                    both = both && now;
                    if (now) {
                        last[s] = clock.elapsed();
                        if (first[s] < 0)
                            first[s] = last[s];
                    }
                }
                together = together || both;
                p.waitForFinished(100);
            }
        });
        QVERIFY2(played.exit == 0, qPrintable(played.said()));
        QVERIFY2(together, "the sites' batches never ran at one time");
        for (const auto& site : sites) {
            QCOMPARE(played.stats(site->name).value("failures").toInt(), 0);
            QVERIFY2(played.result(kBatchTask, site->name).value("changed").toBool(),
                     qPrintable(played.said()));
            QVERIFY(played.result(kRetryTask, site->name).value("skipped").toBool());
            QTRY_COMPARE(site->sims[0]->received(9999), SimulatorProcess::setupMenuBytes(site->gateway()));
            QTRY_COMPARE(site->sims[1]->received(23),
                         SimulatorProcess::commandLineBytes(site->address(1), site->gateway()));
            for (int k : {0, 1})
                QCOMPARE(site->sims[k]->config().value("ip").toString(), site->address(k));
            for (int k : {2, 3})
                QVERIFY(site->sims[k]->summary().value("connections").toArray().isEmpty());
            // The report and each adaptor's log, fetched to the controller.
            const QString reports = path(QStringLiteral("play/netrika-reports/") + site->name);
            QFile report(reports + QStringLiteral("/report.csv"));
            QVERIFY2(report.open(QIODevice::ReadOnly), qPrintable(report.fileName()));
            const QList<QByteArray> rows = report.readAll().split('\n');
            for (int k : {0, 1}) {
                QVERIFY2(std::any_of(rows.begin(), rows.end(),
                                     [&](const QByteArray& row) {
                                         return row.contains(site->adaptors[k].mac.toLatin1()) &&
                                                row.contains("succeeded");
                                     }),
                         qPrintable(rows.join('\n')));
                QFile log(reports + QStringLiteral("/logs/") + site->adaptors[k].mac +
                          QStringLiteral(".log"));
                QVERIFY2(log.open(QIODevice::ReadOnly) && log.size() > 0, qPrintable(log.fileName()));
                // A log holds the adaptor's password as sent: the user's
                // alone, on the site host and on the controller.
                QCOMPARE(ownedBy(log.fileName()).mode, 0600);
                QCOMPARE(
                    ownedBy(
                        path(QStringLiteral("sites/%1/logs/%2.log").arg(site->name, site->adaptors[k].mac)))
                        .mode,
                    0600);
            }
            QCOMPARE(ownedBy(path(QStringLiteral("sites/%1/logs").arg(site->name))).mode, 0700);
            QCOMPARE(ownedBy(reports).mode, 0700);
            QCOMPARE(ownedBy(reports + QStringLiteral("/logs")).mode, 0700);
        }
        qInfo("figure: a first run: %.1f s for one site, %.1f s for both (ratio %.2f); netrika-cli ran %.1f s "
              "on the first site, %.1f s on the second, at one time",
              double(oneSiteFirstMs) / 1000, double(played.ms) / 1000,
              double(played.ms) / double(std::max<qint64>(1, oneSiteFirstMs)), double(last[0] - first[0]) / 1000,
              double(last[1] - first[1]) / 1000);
    }

    // Catches a boolean of the role read as a string: netrika_resume given
    // on the command line (-e gives a string) as "false" leaves the last
    // report out, and as "true" resumes from it.
    void resumeGivenAsString_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<bool>("resumed");
        QTest::newRow("ok_false_left_out") << QStringLiteral("false") << false;
        QTest::newRow("ok_true_resumed") << QStringLiteral("true") << true;
    }
    void resumeGivenAsString() {
        QFETCH(QString, given);
        QFETCH(bool, resumed);
        const Play checked =
            play({"--check", "--limit", kSites[0], "-e", QStringLiteral("netrika_resume=") + given});
        QVERIFY2(checked.exit == 0, qPrintable(checked.said()));
        const QJsonValue resume = checked.result(kCheckTask, kSites[0])
                                      .value("invocation")
                                      .toObject()
                                      .value("module_args")
                                      .toObject()
                                      .value("resume");
        QCOMPARE(resume.toString(),
                 resumed ? path(QStringLiteral("sites/%1/report.csv").arg(kSites[0])) : QString());
    }

    // Catches a second run that undoes or redoes the first: after every
    // adaptor is power cycled, the same play changes nothing and no adaptor
    // sees a connection.
    void secondRunUnchanged() {
        int before = 0;
        for (const auto& site : sites) {
            for (const auto& sim : site->sims)
                sim->reboot();
            before += site->connections();
        }
        // One site alone, then both: what Ansible itself costs for more sites.
        const Play alone = play({"--limit", kSites[0]});
        QVERIFY2(alone.exit == 0, qPrintable(alone.said()));
        QCOMPARE(alone.stats(kSites[0]).value("changed").toInt(), 0);
        const Play again = play({});
        QVERIFY2(again.exit == 0, qPrintable(again.said()));
        qInfo("figure: a play that changes nothing: %.1f s for one site, %.1f s for both (ratio %.2f)",
              double(alone.ms) / 1000, double(again.ms) / 1000, double(again.ms) / double(std::max<qint64>(1, alone.ms)));
        int after = 0;
        for (const auto& site : sites) {
            QCOMPARE(again.stats(site->name).value("changed").toInt(), 0);
            QCOMPARE(again.stats(site->name).value("failures").toInt(), 0);
            after += site->connections();
        }
        QTest::qWait(1000); // a connection would have been recorded by now
        QCOMPARE(after, before);
    }

    // Idempotent from what the adaptors say, not from the report: catches a
    // converged site changed (or failed) once its work folder is gone or with
    // netrika_resume false, and a mask changed in the sheet left unapplied.
    void convergedFromTheAdaptors() {
        int before = 0;
        for (const auto& site : sites)
            before += site->connections();
        const Play notResumed = play({"-e", "netrika_resume=false"});
        QVERIFY2(notResumed.exit == 0, qPrintable(notResumed.said()));
        for (const auto& site : sites)
            QVERIFY(QDir(path(QStringLiteral("sites/") + site->name)).removeRecursively());
        const Play freshFolder = play({});
        QVERIFY2(freshFolder.exit == 0, qPrintable(freshFolder.said()));
        int after = 0;
        for (const auto& site : sites) {
            QCOMPARE(notResumed.stats(site->name).value("changed").toInt(), 0);
            // The new work folder, its rows and logs are the role's own
            // bookkeeping, not a change at the site.
            QVERIFY2(!freshFolder.result(kBatchTask, site->name).value("changed").toBool(),
                     qPrintable(freshFolder.said()));
            QCOMPARE(freshFolder.stats(site->name).value("changed").toInt(), 0);
            QCOMPARE(freshFolder.stats(site->name).value("failures").toInt(), 0);
            after += site->connections();
        }
        QTest::qWait(1000); // a connection would have been recorded by now
        QCOMPARE(after, before);

        // The sheet widens the second adaptor's mask: it is given it.
        QByteArray wider = rowsOf({0, 1});
        for (const auto& site : sites)
            wider.replace(QStringLiteral("%1,255.255.255.0").arg(site->address(1)).toUtf8(),
                          QStringLiteral("%1,255.255.0.0").arg(site->address(1)).toUtf8());
        QVERIFY(write(QStringLiteral("play/wider.csv"), wider));
        const Play widened = play({"-e", "netrika_inventory_csv=wider.csv"});
        QVERIFY2(widened.exit == 0, qPrintable(widened.said()));
        for (const auto& site : sites) {
            QVERIFY2(widened.result(kBatchTask, site->name).value("changed").toBool(), qPrintable(widened.said()));
            QTRY_COMPARE(site->sims[1]->config().value("subnetMask").toString(), QStringLiteral("255.255.0.0"));
        }
    }

    // Catches one site's failure stopping the others: a row whose adaptor
    // never answers fails its own site, while the other site sets up its
    // new adaptor; the recap says which.
    void silentAdaptorFailsItsSiteOnly() {
        QVERIFY(write(QStringLiteral("play/more.csv"), rowsOf({2}, kSites[0])));
        const Play played = play({"-e", "netrika_inventory_csv=more.csv"});
        QVERIFY2(played.exit != 0, qPrintable(played.said()));
        const Site& north = *sites[0];
        const Site& south = *sites[1];
        QCOMPARE(played.stats(north.name).value("failures").toInt(), 1);
        QCOMPARE(played.stats(south.name).value("failures").toInt(), 0);
        QVERIFY(played.result(kBatchTask, south.name).value("changed").toBool());
        // The failed row by its line, MAC and address.
        const QString failed = played.result(kBatchTask, north.name).value("msg").toString();
        QVERIFY2(failed.contains(
                     QStringLiteral("line 3 (00-80-a3-14-09-99 at 10.77.%1.99): failed").arg(north.subnet)),
                 qPrintable(failed));
        for (const Site* site : {&north, &south})
            QTRY_COMPARE(site->sims[2]->received(23),
                         SimulatorProcess::commandLineBytes(site->address(2), site->gateway()));
    }

    // Catches a refused probe taken for a failed site, or a retry that runs
    // what it need not: while another holds the host's probe budget each
    // site's row ends not-checked, the role waits and runs the batch once
    // more, resumed from the report, and the adaptor is given its address.
    // (A play without such a row skips the retry: bothSitesAtOnce.)
    void notCheckedRowTriedAgain() {
        QVERIFY(write(QStringLiteral("play/retry.csv"), rowsOf({3})));
        const QString budgetFile = path(QString::fromLatin1(kSitesRunFolder) + QStringLiteral("/probes"));
        const int budget = ::open(budgetFile.toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
        QVERIFY2(budget >= 0, qPrintable(budgetFile));
        QVERIFY(::flock(budget, LOCK_EX) == 0);
        const auto refusedEverywhere = [&] {
            return std::all_of(sites.begin(), sites.end(), [&](const auto& site) {
                const QByteArray report =
                    contentOf(path(QStringLiteral("sites/%1/report.csv").arg(site->name)));
                return report.contains(site->adaptors[3].mac.toLatin1()) && report.contains("not-checked");
            });
        };
        bool refused = false;
        const Play played = play({"-e", "netrika_inventory_csv=retry.csv"}, [&](QProcess& p) {
            QElapsedTimer waited;
            waited.start();
            while (p.state() != QProcess::NotRunning && waited.elapsed() < 120000 && !refusedEverywhere())
                p.waitForFinished(100);
            refused = refusedEverywhere();
            ::flock(budget, LOCK_UN);
        });
        ::close(budget);
        QVERIFY2(refused,
                 qPrintable(QStringLiteral("not every site's row ended not-checked while the budget was "
                                           "held: ") +
                            QString::fromUtf8(
                                contentOf(path(QStringLiteral("sites/%1/report.csv").arg(kSites[0])))) +
                            played.said()));
        QVERIFY2(played.exit == 0, qPrintable(played.said()));
        for (const auto& site : sites) {
            const QJsonObject first = played.result(kBatchTask, site->name);
            QCOMPARE(first.value("rows").toArray().first().toObject().value("reason").toString(),
                     QStringLiteral("not-checked"));
            const QJsonObject again = played.result(kRetryTask, site->name);
            QVERIFY2(again.value("changed").toBool(), qPrintable(played.said()));
            QCOMPARE(site->sims[3]->config().value("ip").toString(), site->address(3));
        }
    }

    // Catches a controller's end leaving the sites' hosts changed: the
    // controller killed outright while both sites bind addresses leaves no
    // permanent neighbour entry on any site once its runs have ended.
    void controllerKilledLeavesNothing() {
        QVERIFY(write(QStringLiteral("play/last.csv"), rowsOf({4})));
        bool bound = false;
        const Play killed = play({"-e", "netrika_inventory_csv=last.csv"}, [&](QProcess& p) {
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 120000 && !bound) {
                bound = std::any_of(sites.begin(), sites.end(),
                                    [](const auto& site) { return !site->permanentEntries().isEmpty(); });
                QTest::qWait(50);
            }
            // Never the test's own group: a controller already gone has no id.
            if (const pid_t group = pid_t(p.processId()); group > 0)
                ::kill(-group, SIGKILL);
        });
        QVERIFY2(bound, "no site bound an address while the play ran");
        QCOMPARE(killed.exit, -1);
        // Each site's runs end by themselves; then nothing of theirs is left.
        for (const auto& site : sites) {
            QTRY_VERIFY_WITH_TIMEOUT(!site->running(), 120000);
            QCOMPARE(site->permanentEntries(), QByteArray());
        }
    }
};

QTEST_GUILESS_MAIN(TestFleet)
#include "tst_fleet.moc"
