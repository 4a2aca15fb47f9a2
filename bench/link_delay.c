/* SPDX-License-Identifier: MIT */
/* A link that is far: every TCP packet a process of this network namespace
 * sends is held for DELAY milliseconds before it goes on (queued from the
 * INPUT chain with NFQUEUE, released in order), so that a round trip on
 * loopback costs twice that, connects and handshakes included. Optionally a
 * middlebox that forgets a connection to or from PORT once it has been idle
 * for IDLE seconds: from then on its packets are dropped, both ways.
 *
 *   link_delay QUEUE DELAY_MS [PORT IDLE_SECONDS]
 *
 * Prints "ready" once bound to the queue; runs until killed. Only for the
 * benchmark's private namespace (addresses in 127.0.0.0/8). */
#include <arpa/inet.h>
#include <errno.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { kHeld = 1 << 18, kFlows = 1 << 16 };

struct held {
    uint32_t id;
    double due;
    int drop;
};

static struct held queue[kHeld];
static size_t head, tail;
static double delay;
static unsigned watched_port;
static double forget_after;
static double last_seen[kFlows];  /* by the other end's port */
static unsigned char forgotten[kFlows];

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* Whether the packet belongs to a connection the middlebox has forgotten. */
static int forgets(unsigned char *packet, int length, double at)
{
    if (!watched_port || length < 24 || (packet[0] >> 4) != 4 || packet[9] != IPPROTO_TCP)
        return 0;
    const int ihl = (packet[0] & 15) * 4;
    if (length < ihl + 4)
        return 0;
    const unsigned source = (unsigned)(packet[ihl] << 8 | packet[ihl + 1]);
    const unsigned target = (unsigned)(packet[ihl + 2] << 8 | packet[ihl + 3]);
    if (source != watched_port && target != watched_port)
        return 0;
    const unsigned peer = source == watched_port ? target : source;
    if (!forgotten[peer] && last_seen[peer] > 0 && at - last_seen[peer] > forget_after)
        forgotten[peer] = 1;
    last_seen[peer] = at;
    return forgotten[peer];
}

static int arrived(struct nfq_q_handle *handle, struct nfgenmsg *message, struct nfq_data *data,
                   void *context)
{
    (void)message;
    (void)context;
    struct nfqnl_msg_packet_hdr *header = nfq_get_msg_packet_hdr(data);
    if (!header)
        return 0;
    const uint32_t id = ntohl(header->packet_id);
    unsigned char *packet = NULL;
    const int length = nfq_get_payload(data, &packet);
    const double at = now();
    const int drop = forgets(packet, length, at);
    if ((tail + 1) % kHeld == head) /* full: let it through at once */
        return nfq_set_verdict(handle, id, drop ? NF_DROP : NF_ACCEPT, 0, NULL);
    queue[tail] = (struct held){id, at + delay, drop};
    tail = (tail + 1) % kHeld;
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 5) {
        fprintf(stderr, "usage: link_delay QUEUE DELAY_MS [PORT IDLE_SECONDS]\n");
        return 2;
    }
    delay = atof(argv[2]) / 1e3;
    if (argc == 5) {
        watched_port = (unsigned)atoi(argv[3]);
        forget_after = atof(argv[4]);
    }
    struct nfq_handle *library = nfq_open();
    if (!library)
        return 1;
    struct nfq_q_handle *handle = nfq_create_queue(library, (uint16_t)atoi(argv[1]), arrived, NULL);
    if (!handle || nfq_set_mode(handle, NFQNL_COPY_PACKET, 64) < 0) {
        fprintf(stderr, "link_delay: cannot bind the queue: %s\n", strerror(errno));
        return 1;
    }
    nfq_set_queue_maxlen(handle, kHeld - 1);
    const int fd = nfq_fd(library);
    printf("ready\n");
    fflush(stdout);
    char buffer[1 << 16];
    for (;;) {
        int wait = -1;
        if (head != tail) {
            const double left = queue[head].due - now();
            wait = left <= 0 ? 0 : (int)(left * 1e3) + 1;
        }
        struct pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, wait) > 0) {
            const int got = (int)recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0)
                nfq_handle_packet(library, buffer, got);
        }
        const double at = now();
        while (head != tail && queue[head].due <= at) {
            nfq_set_verdict(handle, queue[head].id, queue[head].drop ? NF_DROP : NF_ACCEPT, 0, NULL);
            head = (head + 1) % kHeld;
        }
    }
}
