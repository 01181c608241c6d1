#pragma once
// A real XMPP server for tests: prosody on a free loopback port with its
// configuration and accounts in a temporary folder, run as an unprivileged
// user when the tests run as root (prosody will not run as root), and
// stopped at the end; with TLS when given a certificate, which TestCa makes
// at run time. XmppPeer is a small libstrophe client on a thread of its own,
// the other side of a bridged conversation.

#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <pthread.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <strophe.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace xmpptest {

inline bool haveProsody() { return access("/usr/bin/prosody", X_OK) == 0; }

inline int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(s);
    return ntohs(a.sin_port);
}

inline bool accepting(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// Starts a program with no input and its output (both streams) in `out`,
// created afresh; its process id, or -1. `path` finds it on PATH.
inline pid_t spawnTo(std::vector<std::string> args, const std::string& out, bool path) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    pid_t pid = -1;
    int rc = path ? posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ)
                  : posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    return rc == 0 ? pid : -1;
}

// Runs a program to its end, its output discarded; true when it succeeded.
inline bool runQuietly(std::vector<std::string> args) {
    pid_t pid = spawnTo(std::move(args), "/dev/null", true);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline void removeTree(const std::string& dir) {
    if (dir.empty()) return;
    nftw(dir.c_str(), [](const char* p, const struct stat*, int, FTW*) { return ::remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

// A certificate authority of the test's own, in a private temporary folder,
// and a server certificate it signed for one host name.
class TestCa {
public:
    explicit TestCa(const std::string& host) {
        char tmpl[] = "/tmp/olvaro-ca-XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir_ = tmpl;
        std::ofstream(dir_ + "/server.ext") << "basicConstraints=CA:FALSE\nsubjectAltName=DNS:" << host
                                            << "\nextendedKeyUsage=serverAuth\n";
        const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        std::vector<std::string> ca = {"openssl", "req", "-x509"};
        ca.insert(ca.end(), ec.begin(), ec.end());
        for (const char* a : {"-days", "2", "-subj", "/CN=Olvaro Test CA", "-keyout"}) ca.push_back(a);
        ca.insert(ca.end(), {dir_ + "/ca.key", "-out", caFile()});
        std::vector<std::string> req = {"openssl", "req"};
        req.insert(req.end(), ec.begin(), ec.end());
        req.insert(req.end(), {"-subj", "/CN=" + host, "-keyout", keyFile(), "-out", dir_ + "/server.csr"});
        ok_ = runQuietly(ca) && runQuietly(req) &&
              runQuietly({"openssl", "x509", "-req", "-days", "2", "-in", dir_ + "/server.csr", "-CA", caFile(),
                          "-CAkey", dir_ + "/ca.key", "-CAcreateserial", "-extfile", dir_ + "/server.ext", "-out",
                          certFile()});
    }
    ~TestCa() { removeTree(dir_); }
    bool ok() const { return ok_; }
    std::string caFile() const { return dir_ + "/ca.pem"; }
    std::string certFile() const { return dir_ + "/server.pem"; }
    std::string keyFile() const { return dir_ + "/server.key"; }

private:
    std::string dir_;
    bool ok_ = false;
};

struct Account {
    std::string user, password;
    std::vector<std::string> friends;  // mutual subscriptions, bare JIDs
};

class Prosody {
public:
    explicit Prosody(std::string domain = "localhost") : domain_(std::move(domain)) {}
    ~Prosody() { stop(); }

    // False when prosody is missing or did not come up. With `tls`, the
    // server offers TLS with its certificate, but takes plain links too: a
    // client that went on in the clear after a failed check would get in.
    bool start(const std::vector<Account>& accounts, const TestCa* tls = nullptr) {
        if (!haveProsody()) return false;
        char tmpl[] = "/tmp/olvaro-prosody-XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir_ = tmpl;
        port_ = freePort();
        // The folder of a host name, as prosody escapes it.
        std::string escaped;
        for (char ch : domain_) escaped += ch == '.' ? std::string("%2e") : std::string(1, ch);
        std::string data = dir_ + "/data", host = data + "/" + escaped;
        mkdir(data.c_str(), 0700);
        mkdir(host.c_str(), 0700);
        mkdir((host + "/accounts").c_str(), 0700);
        mkdir((host + "/roster").c_str(), 0700);
        mkdir((dir_ + "/plugins").c_str(), 0700);
        std::vector<std::string> enabled = modules;
        for (const auto& [name, source] : ownModules) {
            std::ofstream(dir_ + "/plugins/mod_" + name + ".lua") << source;
            enabled.push_back(name);
        }
        if (tls) enabled.push_back("tls");
        std::ofstream config(dir_ + "/prosody.cfg.lua");
        if (tls) {
            // Copied in, so that prosody's user can read them.
            std::ifstream cert(tls->certFile()), key(tls->keyFile());
            std::ofstream(dir_ + "/server.pem") << cert.rdbuf();
            std::ofstream(dir_ + "/server.key") << key.rdbuf();
            config << "ssl = { certificate = \"" << dir_ << "/server.pem\", key = \"" << dir_ << "/server.key\" }\n";
        }
        config
            << "pidfile = \"" << dir_ << "/prosody.pid\"\n"
            << "data_path = \"" << data << "\"\n"
            << "log = { { levels = { min = \"warn\" }, to = \"file\", filename = \"" << dir_ << "/prosody.log\" } }\n"
            << "c2s_ports = { " << port_ << " }\nc2s_interfaces = { \"127.0.0.1\" }\n"
            << "s2s_ports = { }\nc2s_direct_tls_ports = { }\nlegacy_ssl_ports = { }\n"
            << "plugin_paths = { \"" << dir_ << "/plugins\" }\n"
            << "modules_enabled = { \"roster\", \"saslauth\", \"disco\", \"private\", \"ping\"";
        for (const std::string& m : enabled) config << ", \"" << m << "\"";
        config << " }\n"
            << "modules_disabled = { \"s2s\", \"offline\", \"posix\" }\n"
            << "c2s_require_encryption = false\nallow_unencrypted_plain_auth = true\n"
            << "authentication = \"internal_plain\"\nstorage = \"internal\"\n"
            << "VirtualHost \"" << domain_ << "\"\n"
            << "Component \"conference." << domain_ << "\" \"muc\"\n"
            << "muc_room_locking = false\n"
            // Rooms show members' real addresses, so an invitation names who sent it.
            << "muc_room_default_public_jids = true\n";
        for (const Account& a : accounts) {
            std::ofstream(host + "/accounts/" + a.user + ".dat")
                << "return {\n\t[\"password\"] = \"" << a.password << "\";\n};\n";
            std::ofstream roster(host + "/roster/" + a.user + ".dat");
            roster << "return {\n\t[false] = { [\"version\"] = 1; [\"pending\"] = {}; };\n";
            for (const std::string& f : a.friends)
                roster << "\t[\"" << f << "\"] = { [\"groups\"] = {}; [\"subscription\"] = \"both\"; };\n";
            roster << "};\n";
        }
        config.close();
        if (geteuid() == 0) {
            // Root: the folder goes to nobody, and prosody runs as nobody.
            passwd* nobody = getpwnam("nobody");
            if (!nobody) return false;
            chownTree(nobody->pw_uid, nobody->pw_gid);
        }
        return spawn();
    }

    // A server that stops answering while its links stay open, and back.
    void pause() {
        if (pid_ > 0) kill(pid_, SIGSTOP);
    }
    void resume() {
        if (pid_ > 0) kill(pid_, SIGCONT);
    }

    // An outage: the server shuts down (its sessions end), or with `crash`
    // dies on the spot, what it had not handled lost; later it comes back on
    // the same port with the same accounts and data.
    void halt(bool crash = false) {
        if (crash && pid_ > 0) kill(pid_, SIGKILL);
        end();
    }
    bool restart() { return pid_ <= 0 && !dir_.empty() && spawn(); }

    void stop() {
        end();
        removeTree(dir_);
        dir_.clear();
    }

    // Modules beyond the basic ones: stream management; published
    // nicknames; privacy lists (from the community modules) for
    // invisibility. Modules of the test's own (name, Lua source) are added
    // to them.
    std::vector<std::string> modules{"smacks", "pep", "privacy_lists"};
    std::vector<std::pair<std::string, std::string>> ownModules;

    int port() const { return port_; }
    // The server option that sends the domain's sessions here.
    std::string hostMapping() const { return domain_ + "=127.0.0.1:" + std::to_string(port_); }

private:
    bool spawn() {
        std::string config = dir_ + "/prosody.cfg.lua";
        std::string log = dir_ + "/stdout.txt";
        std::vector<std::string> args;
        if (geteuid() == 0) {
            passwd* nobody = getpwnam("nobody");
            if (!nobody) return false;
            args = {"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                    "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "/usr/bin/prosody"};
        } else {
            args = {"/usr/bin/prosody"};
        }
        args.push_back("--config");
        args.push_back(config);
        pid_ = spawnTo(std::move(args), log, false);
        if (pid_ < 0) return false;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < until) {
            if (accepting(port_)) return true;
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void end() {
        if (pid_ > 0) {
            kill(pid_, SIGCONT);
            kill(pid_, SIGTERM);
            for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) != pid_; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (waitpid(pid_, nullptr, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
            pid_ = -1;
        }
    }

    void chownTree(uid_t uid, gid_t gid) {
        static uid_t s_uid;
        static gid_t s_gid;
        s_uid = uid;
        s_gid = gid;
        nftw(dir_.c_str(), [](const char* p, const struct stat*, int, FTW*) { return lchown(p, s_uid, s_gid); }, 16,
             FTW_PHYS);
    }

    std::string domain_;
    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// The far side: signs in, remembers what arrives, sends on request.
class XmppPeer {
public:
    struct Stanza {
        std::string name, type, from, body, id;
        std::string child;  // the first child element's namespace
    };

    // `redial`: a link that ends is made again (a new session), every
    // fifth of a second until it is.
    XmppPeer(const std::string& jid, const std::string& password, int port, const std::string& resource = "peer",
             bool redial = false)
        : full_(jid + "/" + resource), password_(password), port_(port), redial_(redial) {
        xmpp_initialize();
        ctx_ = xmpp_ctx_new(nullptr, nullptr);
        open();
        thread_ = std::thread([this] {
            // A write to a link the server closed fails instead of ending the test.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            while (!stop_) {
                xmpp_run_once(ctx_, 20);
                if (redial_ && ended_ && std::chrono::steady_clock::now() - endedAt_ > std::chrono::milliseconds(200)) {
                    xmpp_conn_release(conn_);
                    open();
                }
                std::deque<std::function<void()>> tasks;
                {
                    std::lock_guard lock(mu_);
                    tasks.swap(tasks_);
                }
                for (auto& t : tasks) t();
            }
            if (connected_) {
                xmpp_disconnect(conn_);
                for (int i = 0; i < 20 && connected_; ++i) xmpp_run_once(ctx_, 20);
            }
        });
    }
    ~XmppPeer() {
        stop_ = true;
        thread_.join();
        xmpp_conn_release(conn_);
        xmpp_ctx_free(ctx_);
    }

    bool connected() const { return connected_; }
    // Links made so far (more than one once redialled).
    int links() const { return links_; }
    void message(const std::string& to, const std::string& text) {
        run([this, to, text] {
            xmpp_stanza_t* m = xmpp_message_new(ctx_, "chat", to.c_str(), nullptr);
            xmpp_message_set_body(m, text.c_str());
            xmpp_send(conn_, m);
            xmpp_stanza_release(m);
        });
    }
    void presence(const std::string& to, const char* type) {
        run([this, to, type] {
            xmpp_stanza_t* p = xmpp_presence_new(ctx_);
            if (!to.empty()) xmpp_stanza_set_to(p, to.c_str());
            if (type) xmpp_stanza_set_type(p, type);
            xmpp_send(conn_, p);
            xmpp_stanza_release(p);
        });
    }
    // Any stanza, written out.
    void raw(const std::string& xml) {
        run([this, xml] {
            xmpp_stanza_t* st = xmpp_stanza_new_from_string(ctx_, xml.c_str());
            if (!st) return;
            xmpp_send(conn_, st);
            xmpp_stanza_release(st);
        });
    }
    // What arrived so far.
    std::vector<Stanza> received() {
        std::lock_guard lock(mu_);
        return received_;
    }
    bool has(const std::string& name, const std::string& type, const std::string& body = "") {
        for (auto& s : received())
            if (s.name == name && s.type == type && (body.empty() || s.body == body)) return true;
        return false;
    }

    // The answer to the stanza with this id, if one came.
    std::optional<Stanza> answer(const std::string& id) {
        for (auto& s : received())
            if (s.id == id && (s.type == "result" || s.type == "error")) return s;
        return std::nullopt;
    }

    // A stanza of this kind from an address starting with `from`.
    bool hasFrom(const std::string& name, const std::string& type, const std::string& from) {
        for (auto& s : received())
            if (s.name == name && s.type == type && s.from.rfind(from, 0) == 0) return true;
        return false;
    }

private:
    void open() {
        ended_ = false;
        conn_ = xmpp_conn_new(ctx_);
        xmpp_conn_set_flags(conn_, 0);
        xmpp_conn_set_jid(conn_, full_.c_str());
        xmpp_conn_set_pass(conn_, password_.c_str());
        // One handler for every stanza: the library keeps a function only once.
        xmpp_handler_add(conn_, &XmppPeer::onStanza, nullptr, nullptr, nullptr, this);
        if (xmpp_connect_client(conn_, "127.0.0.1", uint16_t(port_), &XmppPeer::onConn, this) != XMPP_EOK) {
            ended_ = true;
            endedAt_ = std::chrono::steady_clock::now();
        }
    }
    void run(std::function<void()> fn) {
        std::lock_guard lock(mu_);
        tasks_.push_back(std::move(fn));
    }
    static void onConn(xmpp_conn_t*, xmpp_conn_event_t event, int, xmpp_stream_error_t*, void* user) {
        auto* self = static_cast<XmppPeer*>(user);
        self->connected_ = event == XMPP_CONN_CONNECT;
        if (event == XMPP_CONN_DISCONNECT || event == XMPP_CONN_FAIL) {
            self->ended_ = true;
            self->endedAt_ = std::chrono::steady_clock::now();
        }
        if (event == XMPP_CONN_CONNECT) {
            ++self->links_;
            xmpp_stanza_t* p = xmpp_presence_new(self->ctx_);
            xmpp_send(self->conn_, p);
            xmpp_stanza_release(p);
        }
    }
    static int onStanza(xmpp_conn_t*, xmpp_stanza_t* st, void* user) {
        auto* self = static_cast<XmppPeer*>(user);
        Stanza s;
        s.name = xmpp_stanza_get_name(st) ? xmpp_stanza_get_name(st) : "";
        s.type = xmpp_stanza_get_type(st) ? xmpp_stanza_get_type(st) : "";
        s.from = xmpp_stanza_get_from(st) ? xmpp_stanza_get_from(st) : "";
        s.id = xmpp_stanza_get_id(st) ? xmpp_stanza_get_id(st) : "";
        for (xmpp_stanza_t* c = xmpp_stanza_get_children(st); c && s.child.empty(); c = xmpp_stanza_get_next(c))
            if (xmpp_stanza_is_tag(c) && xmpp_stanza_get_ns(c)) s.child = xmpp_stanza_get_ns(c);
        if (char* body = s.name == "message" ? xmpp_message_get_body(st) : nullptr) {
            s.body = body;
            xmpp_free(self->ctx_, body);
        }
        std::lock_guard lock(self->mu_);
        self->received_.push_back(std::move(s));
        return 1;
    }

    std::string full_, password_;
    int port_;
    bool redial_;
    xmpp_ctx_t* ctx_ = nullptr;
    xmpp_conn_t* conn_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false}, connected_{false};
    std::atomic<int> links_{0};
    bool ended_ = false;  // the peer thread's own
    std::chrono::steady_clock::time_point endedAt_;
    std::mutex mu_;
    std::deque<std::function<void()>> tasks_;
    std::vector<Stanza> received_;
};

}  // namespace xmpptest
