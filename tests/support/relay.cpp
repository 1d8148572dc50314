// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A UDP relay that impairs what passes by a seeded schedule, and writes down
// each datagram's fate:
//
//   selmarin_relay PORT TARGET TARGET_PORT RECORD [KEY=VALUE ...]
//
// Datagrams to PORT go on to TARGET:TARGET_PORT, the answers back to whoever
// sent last.  Each datagram belongs to a unit: an AutoPing query or answer to
// the query's number (a plain copy right after a numbered one to that one, a
// plain query alone to the number after the last, a plain answer to the
// oldest plain query passed on), a load's Data piece to its sequence number;
// the rest (a load's ends and reports) passes untouched and unwritten.
// A unit's fate in a direction (q: on to the target, a: back) is drawn from
// the seed, the unit and the direction alone, so that it is the same on
// every run: KEY=VALUE, repeatable where it says so:
//   seed=S            the generator's seed
//   outage=A-B        units A to B are dropped both ways (repeatable)
//   loss=P            P % of the units are dropped, each way on its own
//   dup=P             P % go twice, the copy 0.2 ms after (plain copies never)
//   qdelay=P:LO-HI    P % of the queries wait LO to HI ms (repeatable);
//   adelay=P:LO-HI    the same for the answers
//   jitter=US         each waits up to US microseconds more
//   upto=N            units after N are neither held nor copied (dropped
//                     still): a run's last answers come before it ends
// Later datagrams may overtake a held one.  At SIGTERM, RECORD gets a line per datagram,
// "DIRECTION KIND UNIT COPY IN_NS OUT_NS": KIND n (numbered query or answer),
// p (plain), l (a load's piece); IN_NS the kernel's receive stamp
// (SO_TIMESTAMPNS, CLOCK_REALTIME), OUT_NS when it was sent on, -1 dropped.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t stopping = 0;

long long nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

struct Delay
{
    double share, lo, hi; // a share of the units, held lo to hi ms
};
struct Schedule
{
    unsigned long long seed = 0;
    std::vector<std::pair<long long, long long>> outages;
    double loss = 0, dup = 0, jitterUs = 0;
    long long upto = -1;
    std::vector<Delay> delays[2];
};
struct Fate
{
    bool drop = false, twice = false;
    long long delayNs = 0;
};

Fate fateOf(const Schedule &s, long long unit, int dir)
{
    std::mt19937_64 random(s.seed * 1'000'003ULL + (unsigned long long) unit * 2 + dir);
    std::uniform_real_distribution<double> unit01(0, 1);
    Fate f;
    f.drop = unit01(random) < s.loss / 100;
    for (const auto &[a, b] : s.outages)
        f.drop = f.drop || (unit >= a && unit <= b);
    f.twice = unit01(random) < s.dup / 100;
    double pick = unit01(random) * 100, ms = 0;
    const double at = unit01(random);
    for (const Delay &d : s.delays[dir]) {
        if (pick < d.share) {
            ms = d.lo + at * (d.hi - d.lo);
            break;
        }
        pick -= d.share;
    }
    f.delayNs = (long long) (ms * 1e6 + unit01(random) * s.jitterUs * 1e3);
    if (s.upto >= 0 && unit > s.upto)
        f.twice = false, f.delayNs = 0;
    return f;
}

struct Record
{
    char dir, kind;
    long long unit;
    int copy;
    long long inNs, outNs;
};

// The datagram's kind and unit ('-': passed untouched).
// before: the last numbered query, if one came.
std::pair<char, long long> unitOf(const std::string &b, int dir, long long &last,
                                  std::deque<long long> &plain, const Record *before)
{
    static const std::string texts[2] = {"++ AutoPing Query ++", "++ AutoPing Response ++"};
    if (b.compare(0, texts[dir].size(), texts[dir]) == 0) {
        if (b.size() > texts[dir].size() + 2 && b[texts[dir].size() + 1] == '#') {
            const long long n = std::atoll(b.c_str() + texts[dir].size() + 2);
            last = std::max(last, n);
            return {'n', n};
        }
        if (dir == 1) {
            if (plain.empty())
                return {'p', 0};
            const long long n = plain.front();
            plain.pop_front();
            return {'p', n};
        }
        const bool companion = before && nowNs() - before->inNs < 20'000'000;
        return {'p', companion ? before->unit : ++last};
    }
    if (b.size() >= 40 && b.compare(0, 8, "SELMLOAD") == 0) {
        if (b[9] != 1 || dir != 0)
            return {'-', 0};
        long long seq = 0;
        for (int i = 16; i < 24; ++i)
            seq = seq << 8 | (unsigned char) b[size_t(i)];
        return {'l', seq};
    }
    return {'-', 0};
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s PORT TARGET TARGET_PORT RECORD [KEY=VALUE ...]\n", argv[0]);
        return 2;
    }
    Schedule s;
    for (int i = 5; i < argc; ++i) {
        const std::string arg = argv[i], key = arg.substr(0, arg.find('='));
        const char *value = arg.c_str() + key.size() + 1;
        double p = 0, lo = 0, hi = 0;
        long long a = 0, b = 0;
        if (key == "seed")
            s.seed = std::strtoull(value, nullptr, 10);
        else if (key == "outage" && std::sscanf(value, "%lld-%lld", &a, &b) == 2)
            s.outages.emplace_back(a, b);
        else if (key == "loss")
            s.loss = std::atof(value);
        else if (key == "dup")
            s.dup = std::atof(value);
        else if ((key == "qdelay" || key == "adelay")
                 && std::sscanf(value, "%lf:%lf-%lf", &p, &lo, &hi) == 3)
            s.delays[key[0] == 'a'].push_back({p, lo, hi});
        else if (key == "upto")
            s.upto = std::atoll(value);
        else if (key == "jitter")
            s.jitterUs = std::atof(value);
        else {
            std::fprintf(stderr, "relay: what is %s?\n", argv[i]);
            return 2;
        }
    }
    std::signal(SIGTERM, [](int) { stopping = 1; });
    sockaddr_in target{}, any{};
    target.sin_family = any.sin_family = AF_INET;
    target.sin_port = htons(std::uint16_t(std::atoi(argv[3])));
    any.sin_port = htons(std::uint16_t(std::atoi(argv[1])));
    inet_pton(AF_INET, argv[2], &target.sin_addr);
    const int sockets[2] = {::socket(AF_INET, SOCK_DGRAM, 0), ::socket(AF_INET, SOCK_DGRAM, 0)};
    const int on = 1, big = 4 << 20;
    for (const int fd : sockets) {
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    }
    if (::bind(sockets[0], reinterpret_cast<sockaddr *>(&any), sizeof any) != 0
        || ::connect(sockets[1], reinterpret_cast<sockaddr *>(&target), sizeof target) != 0) {
        std::perror("relay");
        return 2;
    }
    std::printf("relaying\n");
    std::fflush(stdout);

    std::vector<Record> records;
    struct Waiting
    {
        std::string bytes;
        int dir;
        long long record; // -1: passed untouched
    };
    std::multimap<long long, Waiting> queue; // by the time it goes
    std::deque<long long> plainPassed;
    long long last = 0, numberedQuery = -1;
    sockaddr_in client{};
    socklen_t clientLength = 0;
    char buffer[65536], control[256];
    while (!stopping) {
        while (!queue.empty() && queue.begin()->first <= nowNs()) {
            const auto &[bytes, dir, index] = queue.begin()->second;
            const long long outNs = nowNs(); // before the send: never later than the wire
            if (dir == 1)
                ::sendto(sockets[0], bytes.data(), bytes.size(), 0,
                         reinterpret_cast<sockaddr *>(&client), clientLength);
            else
                ::send(sockets[1], bytes.data(), bytes.size(), 0);
            if (index >= 0) {
                Record &r = records[size_t(index)];
                r.outNs = outNs;
                if (r.dir == 'q' && r.kind == 'p')
                    plainPassed.push_back(r.unit);
            }
            queue.erase(queue.begin());
        }
        const long long waitNs = queue.empty() ? 50'000'000 : queue.begin()->first - nowNs();
        pollfd fds[2] = {{sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0}};
        if (::poll(fds, 2, int(std::max(0LL, waitNs / 1'000'000))) <= 0)
            continue;
        for (int dir = 0; dir < 2; ++dir) {
            if (!(fds[dir].revents & POLLIN))
                continue;
            sockaddr_in from{};
            iovec io{buffer, sizeof buffer};
            msghdr message{&from, sizeof from, &io, 1, control, sizeof control, 0};
            const ssize_t got = ::recvmsg(sockets[dir], &message, MSG_DONTWAIT);
            if (got < 0 || (dir == 1 && clientLength == 0))
                continue;
            if (dir == 0) {
                client = from;
                clientLength = message.msg_namelen;
            }
            long long inNs = nowNs();
            for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec t{};
                    std::memcpy(&t, CMSG_DATA(c), sizeof t);
                    inNs = t.tv_sec * 1'000'000'000LL + t.tv_nsec;
                }
            const std::string bytes(buffer, size_t(got));
            const auto [kind, unit]
                = unitOf(bytes, dir, last, plainPassed,
                         numberedQuery < 0 ? nullptr : &records[size_t(numberedQuery)]);
            if (kind == '-') {
                queue.emplace(nowNs(), Waiting{bytes, dir, -1}); // untouched, in its place
                continue;
            }
            const Fate f = fateOf(s, unit, dir);
            const char d = dir ? 'a' : 'q';
            records.push_back({d, kind, unit, 0, inNs, -1});
            if (d == 'q' && kind == 'n')
                numberedQuery = (long long) records.size() - 1;
            if (f.drop)
                continue;
            queue.emplace(inNs + f.delayNs, Waiting{bytes, dir, (long long) records.size() - 1});
            if (f.twice && kind != 'p') {
                records.push_back({d, kind, unit, 1, inNs, -1});
                queue.emplace(inNs + f.delayNs + 200'000,
                              Waiting{bytes, dir, (long long) records.size() - 1});
            }
        }
    }

    std::FILE *file = std::fopen(argv[4], "w");
    for (const Record &r : records)
        if (file)
            std::fprintf(file, "%c %c %lld %d %lld %lld\n", r.dir, r.kind, r.unit, r.copy, r.inNs,
                         r.outNs);
    if (file)
        std::fclose(file);
    return 0;
}
