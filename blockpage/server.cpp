// SPDX-License-Identifier: GPL-3.0-or-later
#include "server.h"

#include "page.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <grp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace blockpage {
namespace {

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::uint8_t kUnlisted = UINT8_MAX;
constexpr std::uint64_t kListenerTag = UINT64_MAX;
constexpr std::uint64_t kStopTag = UINT64_MAX - 1;

constexpr int kListenBacklog = 4096;         // the kernel trims it to net.core.somaxconn
constexpr int kAcceptBatch = 64;             // accepts per wake-up, so held connections get their turn too
constexpr std::int64_t kAcceptRetryMs = 100; // pause after running out of descriptors or memory
constexpr std::size_t kDrainLimit = 1 << 20; // most bytes discarded after answering
constexpr std::size_t kMaxHeld = 4096;
constexpr std::size_t kDescriptorReserve = 64; // for the listener, epoll and eventfd, logs, libc

std::int64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

bool wouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

enum class State : std::uint8_t {
    reading,  // waiting for the one read
    writing,  // the answer did not fit the send buffer at once
    draining, // answered; discarding the rest of the request until the client closes
};

struct Conn {
    int fd = -1;
    State state = State::reading;
    bool watched = false;          // registered with epoll
    std::uint8_t list = kUnlisted; // the deadline list it is in
    bool moreMayFollow = false;    // the read did not end with a complete request head
    std::uint32_t prev = kNone, next = kNone;
    std::int64_t deadline = 0;
    std::string pending; // the unsent rest of the answer
    std::size_t offset = 0;
    std::size_t drained = 0;
};

// Connections waiting for something, oldest first. Every deadline in a list lies the same time after
// the moment it was set, so appending keeps the list sorted.
struct DeadlineList {
    std::uint32_t head = kNone, tail = kNone;
    std::int64_t afterMs = 0;
};

// One serving thread: its own epoll set, its own connections, nothing shared with the other threads
// but the listener (each thread takes connections from it in turn) and the read-only page tables.
class Worker {
public:
    // deferMs: how long the kernel may already have held a silent connection before handing it over
    // (see openListener), counted as part of its idle time.
    Worker(int listenFd, int stopFd, std::size_t cap, std::int64_t timeoutMs, std::int64_t deferMs)
        : listenFd_(listenFd), stopFd_(stopFd), cap_(std::max<std::size_t>(cap, 1)) {
        lists_[kIdle].afterMs = std::max<std::int64_t>(0, timeoutMs - deferMs);
        lists_[kClosing].afterMs = timeoutMs;
    }

    ~Worker() {
        for (Conn& c : conns_)
            if (c.fd >= 0) close(c.fd);
        if (epfd_ >= 0) close(epfd_);
    }

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Returns 0 when told to stop, or the errno of a failure of the listener or of epoll.
    int run() {
        epfd_ = epoll_create1(EPOLL_CLOEXEC);
        if (epfd_ < 0) return errno;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kStopTag;
        if (epoll_ctl(epfd_, EPOLL_CTL_ADD, stopFd_, &ev) != 0) return errno;
        now_ = monotonicMs();
        if (!watchListener()) return errno;

        epoll_event events[128];
        for (;;) {
            int n = epoll_wait(epfd_, events, 128, waitMs());
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            now_ = monotonicMs();
            for (int i = 0; i < n; ++i) {
                std::uint64_t tag = events[i].data.u64;
                if (tag == kStopTag) return 0;
                if (tag == kListenerTag) {
                    if (int err = acceptSome()) return err;
                } else {
                    onEvent(std::uint32_t(tag));
                }
            }
            expire();
            maybeResume();
        }
    }

private:
    bool watchListener() {
        epoll_event ev{};
        // Exclusive: one waiting thread is woken per new connection, not all of them.
        ev.events = EPOLLIN | EPOLLEXCLUSIVE;
        ev.data.u64 = kListenerTag;
        return epoll_ctl(epfd_, EPOLL_CTL_ADD, listenFd_, &ev) == 0;
    }

    // Stops taking connections until resumeAt (a monotonic time in ms); meanwhile new clients wait
    // in the listen backlog.
    void pauseAccept(std::int64_t resumeAt) {
        if (!paused_) {
            epoll_ctl(epfd_, EPOLL_CTL_DEL, listenFd_, nullptr);
            paused_ = true;
        }
        resumeAt_ = resumeAt;
    }

    void maybeResume() {
        if (!paused_ || now_ < resumeAt_) return;
        if (watchListener())
            paused_ = false;
        else
            resumeAt_ = now_ + kAcceptRetryMs;
    }

    int waitMs() const {
        std::int64_t now = monotonicMs();
        std::int64_t wait = -1;
        for (const DeadlineList& list : lists_) {
            if (list.head == kNone) continue;
            std::int64_t untilDue = std::max<std::int64_t>(0, conns_[list.head].deadline - now);
            wait = wait < 0 ? untilDue : std::min(wait, untilDue);
        }
        if (paused_) {
            std::int64_t untilResume = std::max<std::int64_t>(0, resumeAt_ - now);
            wait = wait < 0 ? untilResume : std::min(wait, untilResume);
        }
        return int(std::min<std::int64_t>(wait, INT_MAX));
    }

    // A new client is never kept waiting for the ones already held, whatever they do: at the cap the
    // oldest held connection makes room (see evictOldest).
    int acceptSome() {
        for (int i = 0; i < kAcceptBatch; ++i) {
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                int err = errno;
                if (err == EAGAIN || err == EWOULDBLOCK) return 0;
                // Errors of the one pending connection (Linux reports network errors here): next.
                if (err == EINTR || err == ECONNABORTED || err == EPROTO || err == EPERM || err == ENETDOWN ||
                    err == ENOPROTOOPT || err == EHOSTDOWN || err == ENONET || err == EHOSTUNREACH ||
                    err == EOPNOTSUPP || err == ENETUNREACH)
                    continue;
                // Out of descriptors: one of ours makes room, as at the cap.
                if ((err == EMFILE || err == ENFILE) && evictOldest()) continue;
                // Out of memory, or nothing of ours to give up: leave the clients in the backlog and
                // try again soon, rather than spinning on a listener that stays readable.
                if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
                    pauseAccept(now_ + kAcceptRetryMs);
                    return 0;
                }
                return err; // the listener itself is broken
            }
            std::uint32_t id = allocate(fd);
            // The newcomer is in no list yet, so it is never the one to go.
            while (active_ > cap_ && evictOldest()) {
            }
            readRequest(id);
        }
        return 0;
    }

    // Makes room for a new client. The oldest silent connection gets its answer now, built from
    // whatever it has sent so far, and is closed; only when none is silent is the oldest of those
    // still being answered or drained closed. False when nothing is held.
    bool evictOldest() {
        if (std::uint32_t id = lists_[kIdle].head; id != kNone) {
            unlink(id);
            readRequest(id, false);
            return true;
        }
        if (std::uint32_t id = lists_[kClosing].head; id != kNone) {
            release(id);
            return true;
        }
        return false;
    }

    std::uint32_t allocate(int fd) {
        std::uint32_t id;
        if (!free_.empty()) {
            id = free_.back();
            free_.pop_back();
        } else {
            id = std::uint32_t(conns_.size());
            conns_.emplace_back();
        }
        Conn& c = conns_[id];
        c.fd = fd;
        c.state = State::reading;
        c.watched = false;
        c.moreMayFollow = false;
        c.offset = 0;
        c.drained = 0;
        ++active_;
        return id;
    }

    void release(std::uint32_t id) {
        Conn& c = conns_[id];
        unlink(id);
        close(c.fd); // also takes it out of the epoll set
        c.fd = -1;
        c.watched = false;
        c.pending.clear();
        free_.push_back(id);
        --active_;
    }

    // Gives the connection a fresh deadline in the given list.
    void link(std::uint32_t id, std::uint8_t which) {
        unlink(id);
        Conn& c = conns_[id];
        DeadlineList& list = lists_[which];
        c.deadline = now_ + list.afterMs;
        c.prev = list.tail;
        c.next = kNone;
        if (list.tail != kNone)
            conns_[list.tail].next = id;
        else
            list.head = id;
        list.tail = id;
        c.list = which;
    }

    void unlink(std::uint32_t id) {
        Conn& c = conns_[id];
        if (c.list == kUnlisted) return;
        DeadlineList& list = lists_[c.list];
        if (c.prev != kNone)
            conns_[c.prev].next = c.next;
        else
            list.head = c.next;
        if (c.next != kNone)
            conns_[c.next].prev = c.prev;
        else
            list.tail = c.prev;
        c.prev = c.next = kNone;
        c.list = kUnlisted;
    }

    // Waits for events on the connection with a fresh deadline. False when the connection had to be
    // dropped because epoll refused it.
    bool watch(std::uint32_t id, std::uint32_t events) {
        Conn& c = conns_[id];
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = id;
        if (epoll_ctl(epfd_, c.watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c.fd, &ev) != 0) {
            release(id);
            return false;
        }
        c.watched = true;
        link(id, c.state == State::reading ? kIdle : kClosing);
        return true;
    }

    void onEvent(std::uint32_t id) {
        if (id >= conns_.size() || conns_[id].fd < 0) return;
        switch (conns_[id].state) {
        case State::reading:
            readRequest(id);
            break;
        case State::writing:
            writeRest(id);
            break;
        case State::draining:
            drain(id);
            break;
        }
    }

    // The one read. Whatever it completes with (data, end of stream or an error) gets the page; with
    // wait false, so does nothing having arrived yet.
    void readRequest(std::uint32_t id, bool wait = true) {
        Conn& c = conns_[id];
        ssize_t n = recv(c.fd, buf_, kReadSize, 0);
        if (n < 0 && wouldBlock(errno) && wait) {
            if (!c.watched) watch(id, EPOLLIN | EPOLLRDHUP);
            return;
        }
        if (n > 0) {
            std::string_view bytes(buf_, std::size_t(n));
            // Only the first read counts, but a request that was cut (sent in pieces, or longer than
            // one read) still has bytes on the way.
            answer(id, bytes, bytes.size() == kReadSize || !bytes.ends_with("\r\n\r\n"));
        } else {
            answer(id, {}, false);
        }
    }

    void answer(std::uint32_t id, std::string_view bytes, bool moreMayFollow) {
        Conn& c = conns_[id];
        c.moreMayFollow = moreMayFollow;
        buildResponse(response_, parseRequest(bytes), std::time(nullptr));

        iovec iov[4] = {
            {const_cast<char*>(response_.head.data()), response_.head.size()},
            {const_cast<char*>(response_.before.data()), response_.before.size()},
            {const_cast<char*>(response_.host.data()), response_.host.size()},
            {const_cast<char*>(response_.after.data()), response_.after.size()},
        };
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = 4;
        ssize_t sent = sendmsg(c.fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (!wouldBlock(errno)) {
                release(id); // the client is gone; nobody is left to read the page
                return;
            }
            sent = 0;
        }
        if (std::size_t(sent) == response_.size()) {
            finish(id);
            return;
        }
        c.pending = response_.str().substr(std::size_t(sent));
        c.offset = 0;
        c.state = State::writing;
        watch(id, EPOLLOUT);
    }

    void writeRest(std::uint32_t id) {
        Conn& c = conns_[id];
        ssize_t n =
            send(c.fd, c.pending.data() + c.offset, c.pending.size() - c.offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (!wouldBlock(errno)) release(id);
            return;
        }
        c.offset += std::size_t(n);
        if (c.offset == c.pending.size()) {
            c.pending.clear();
            finish(id);
        }
    }

    void finish(std::uint32_t id) {
        Conn& c = conns_[id];
        if (!c.moreMayFollow) {
            release(id);
            return;
        }
        // Closing a socket with unread input, or input still arriving, makes the kernel reset the
        // connection: the client then fails while still sending its request and may never show the
        // page. So end our side of the stream and discard the rest until the client closes (or the
        // deadline passes).
        shutdown(c.fd, SHUT_WR);
        c.state = State::draining;
        c.drained = 0;
        if (drainSome(id)) watch(id, EPOLLIN | EPOLLRDHUP);
    }

    void drain(std::uint32_t id) { drainSome(id); }

    // Discards what the client has sent so far. False when the connection is finished and released.
    bool drainSome(std::uint32_t id) {
        Conn& c = conns_[id];
        for (;;) {
            ssize_t n = recv(c.fd, buf_, sizeof buf_, 0);
            if (n > 0) {
                c.drained += std::size_t(n);
                if (c.drained > kDrainLimit) break;
                continue;
            }
            if (n < 0 && wouldBlock(errno)) return true;
            break; // end of stream or an error
        }
        release(id);
        return false;
    }

    void expire() {
        for (std::uint8_t which : {kIdle, kClosing}) {
            while (lists_[which].head != kNone && conns_[lists_[which].head].deadline <= now_) {
                std::uint32_t id = lists_[which].head;
                unlink(id);
                if (conns_[id].state == State::reading)
                    answer(id, {}, false); // as for a read that completed with nothing
                else
                    release(id);
            }
        }
    }

    static constexpr std::uint8_t kIdle = 0;    // waiting for the request
    static constexpr std::uint8_t kClosing = 1; // writing the answer or draining the request

    const int listenFd_;
    const int stopFd_;
    const std::size_t cap_;
    int epfd_ = -1;
    std::int64_t now_ = 0;

    std::vector<Conn> conns_;
    std::vector<std::uint32_t> free_;
    std::size_t active_ = 0;
    DeadlineList lists_[2];

    bool paused_ = false;
    std::int64_t resumeAt_ = 0;

    Response response_;
    char buf_[kReadSize]{};
};

} // namespace

int openListener(std::uint16_t port, bool deferAccept) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, kListenBacklog) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    // Best effort: without it every connection still gets its answer, only at a higher cost.
    if (deferAccept) setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &one, sizeof one);
    return fd;
}

std::size_t raiseDescriptorLimit(std::size_t want) {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return 0;
    if (lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < want) {
        rlimit raised = lim;
        raised.rlim_cur = lim.rlim_max == RLIM_INFINITY ? want : std::min<rlim_t>(want, lim.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) lim = raised;
    }
    return lim.rlim_cur == RLIM_INFINITY ? SIZE_MAX : std::size_t(lim.rlim_cur);
}

namespace {

// Whether any user or group id of the process (real, effective, saved) or any supplementary group
// is root's.
bool holdsRootIds() {
    uid_t r = 0, e = 0, saved = 0;
    gid_t gr = 0, ge = 0, gs = 0;
    if (getresuid(&r, &e, &saved) != 0 || getresgid(&gr, &ge, &gs) != 0) return true;
    if (r == 0 || e == 0 || saved == 0 || gr == 0 || ge == 0 || gs == 0) return true;
    int n = getgroups(0, nullptr);
    if (n < 0) return true;
    std::vector<gid_t> groups(std::size_t(n) + 1);
    n = getgroups(int(groups.size()), groups.data());
    return n < 0 || std::find(groups.begin(), groups.begin() + n, gid_t(0)) != groups.begin() + n;
}

// The process's capabilities; false when they cannot be read.
bool capabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &head, data) == 0;
}

bool holdsCapabilities() {
    __user_cap_data_struct data[2]{};
    if (!capabilities(data)) return true;
    for (const auto& d : data)
        if (d.effective != 0 || d.permitted != 0 || d.inheritable != 0) return true;
    return prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_NET_BIND_SERVICE, 0, 0) != 0;
}

} // namespace

int dropPrivileges() {
    uid_t uid = 65534;
    gid_t gid = 65534;
    if (const passwd* pw = getpwnam("nobody")) {
        // An account database that maps nobody to root's ids is not taken at its word.
        if (pw->pw_uid != 0) uid = pw->pw_uid;
        if (pw->pw_gid != 0) gid = pw->pw_gid;
    }
    if (holdsRootIds()) {
        // Started as root (or with root's group): supplementary groups first, then the group, then
        // the user, each real, effective and saved.
        if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
            return errno;
    }
    // Started unprivileged with the capability to bind port 80: once bound, keep none of it.
    if (holdsCapabilities()) {
        prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
        __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2]{};
        if (syscall(SYS_capset, &head, none) != 0) return errno;
    }
    if (holdsRootIds() || holdsCapabilities()) return EPERM;
    if (setuid(0) == 0 || seteuid(0) == 0 || setgid(0) == 0) return EPERM;
    return 0;
}

struct Server::Impl {
    int listenFd = -1;
    int stopFd = -1;
    int stopErr = 0;
    ServerOptions options;
};

Server::Server(int listenFd, ServerOptions options) : d(std::make_unique<Impl>()) {
    d->listenFd = listenFd;
    d->options = options;
    d->stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->stopFd < 0) d->stopErr = errno;
}

Server::~Server() {
    if (d->stopFd >= 0) close(d->stopFd);
    if (d->listenFd >= 0) close(d->listenFd);
}

std::uint16_t Server::port() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (getsockname(d->listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

void Server::stop() {
    std::uint64_t one = 1;
    if (d->stopFd >= 0) (void)!write(d->stopFd, &one, sizeof one); // stays readable: every thread sees it
}

int Server::run() {
    if (d->stopFd < 0) return d->stopErr;

    unsigned threads = d->options.threads;
    if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);

    std::size_t total = d->options.maxConnections;
    if (total == 0) {
        rlimit lim{};
        std::size_t soft = getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY
                               ? std::size_t(lim.rlim_cur)
                               : SIZE_MAX;
        total = std::min(kMaxHeld,
                         soft > 2 * kDescriptorReserve ? soft - kDescriptorReserve : kDescriptorReserve);
    }
    const std::size_t perThread = std::max<std::size_t>(1, total / threads);
    const std::int64_t timeoutMs = std::max<std::int64_t>(1, d->options.idleTimeout.count());
    int deferSeconds = 0;
    socklen_t len = sizeof deferSeconds;
    if (getsockopt(d->listenFd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, &len) != 0) deferSeconds = 0;

    std::atomic<int> failure{0};
    auto serve = [&] {
        Worker worker(d->listenFd, d->stopFd, perThread, timeoutMs, std::int64_t(deferSeconds) * 1000);
        if (int err = worker.run()) {
            int none = 0;
            failure.compare_exchange_strong(none, err);
            stop(); // one failing thread ends them all
        }
    };

    std::vector<std::thread> others;
    for (unsigned i = 1; i < threads; ++i) {
        try {
            others.emplace_back(serve);
        } catch (const std::system_error&) {
            break; // serve with the threads we have
        }
    }
    serve();
    for (std::thread& t : others)
        t.join();
    return failure.load();
}

} // namespace blockpage
