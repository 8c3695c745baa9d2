/* The yardstick: a minimal client of the same dialogue as RyMail, in plain C.
   raw_client HOST_IP FROM RECIPIENTS_FILE|-t RCPT BODY_FILE [lookups]
   With "lookups" it first makes the system lookups RyMail must make (the
   user's password entry, "localhost", the "smtp" service), to show what
   they cost.
   Sends HELO, MAIL FROM, RCPT TO for each recipient, DATA, a few headers,
   the body with CR LF line ends and leading dots doubled, the end of data,
   QUIT. Exit status 0 only when the message was accepted.
   raw_client --ceiling HOST_IP PORT BYTES
   The loopback ceiling: sends BYTES from memory in 256 KiB writes, with no
   dialogue and nothing to encode, to a sink that parses nothing, and waits
   for the sink to close. */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int fd;
static char reply[65536];

static int put(const char *data, size_t length) {
  while (length > 0) {
    ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
    if (sent <= 0) return 0;
    data += sent;
    length -= (size_t)sent;
  }
  return 1;
}

/* Reads one reply (single-line replies are all the sink sends); checks its code. */
static int expect(const char *code) {
  size_t used = 0;
  for (;;) {
    ssize_t got = recv(fd, reply + used, sizeof reply - 1 - used, 0);
    if (got <= 0) return 0;
    used += (size_t)got;
    reply[used] = 0;
    char *last = used >= 2 && reply[used - 1] == '\n' ? reply + used - 2 : NULL;
    if (!last) continue;
    while (last > reply && last[-1] != '\n') --last;
    if (strlen(last) > 3 && last[3] == '-') continue;
    return strncmp(last, code, 3) == 0;
  }
}

static int command(const char *text, const char *code) { return put(text, strlen(text)) && expect(code); }

static int ceiling(const char *host, int port, long long bytes) {
  struct sockaddr_in address = {0};
  address.sin_family = AF_INET;
  address.sin_port = htons((unsigned short)port);
  inet_pton(AF_INET, host, &address.sin_addr);
  fd = socket(AF_INET, SOCK_STREAM, 0);
  if (connect(fd, (struct sockaddr *)&address, sizeof address) != 0) return 1;
  static char block[256 * 1024];
  memset(block, 'x', sizeof block);
  while (bytes > 0) {
    size_t piece = bytes < (long long)sizeof block ? (size_t)bytes : sizeof block;
    if (!put(block, piece)) return 1;
    bytes -= (long long)piece;
  }
  shutdown(fd, SHUT_WR);
  while (recv(fd, reply, sizeof reply, 0) > 0) {
  }
  close(fd);
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 5 && strcmp(argv[1], "--ceiling") == 0) return ceiling(argv[2], atoi(argv[3]), atoll(argv[4]));
  if (argc != 6 && argc != 7) return 2;
  if (argc == 7) {
    getpwuid(getuid());
    gethostbyname("localhost");
    getservbyname("smtp", "tcp");
  }
  struct sockaddr_in address = {0};
  address.sin_family = AF_INET;
  address.sin_port = htons(25);
  inet_pton(AF_INET, argv[1], &address.sin_addr);
  fd = socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (connect(fd, (struct sockaddr *)&address, sizeof address) != 0 || !expect("220")) return 1;
  char line[1024];
  if (!command("HELO raw.example.com\r\n", "250")) return 1;
  snprintf(line, sizeof line, "MAIL FROM: %s\r\n", argv[2]);
  if (!command(line, "250")) return 1;
  if (strcmp(argv[3], "-t") == 0) {
    snprintf(line, sizeof line, "RCPT TO: %s\r\n", argv[4]);
    if (!command(line, "250")) return 1;
  } else {
    FILE *list = fopen(argv[3], "r");
    char rcpt[512];
    while (list && fgets(rcpt, sizeof rcpt, list)) {
      rcpt[strcspn(rcpt, "\r\n")] = 0;
      snprintf(line, sizeof line, "RCPT TO: %s\r\n", rcpt);
      if (!command(line, "250")) return 1;
    }
    if (list) fclose(list);
  }
  if (!command("DATA\r\n", "354")) return 1;
  static char in[65536], out[2 * 65536 + 1024];
  size_t used = (size_t)snprintf(out, sizeof out, "From: %s\r\nTo: %s\r\nSubject: raw\r\n\r\n", argv[2], argv[4]);
  int body = open(argv[5], O_RDONLY);
  int lineStart = 1;
  ssize_t got;
  while (body >= 0 && (got = read(body, in, sizeof in)) > 0) {
    for (ssize_t i = 0; i < got; ++i) {
      char c = in[i];
      if (lineStart && c == '.') out[used++] = '.';
      if (c == '\n') out[used++] = '\r';
      out[used++] = c;
      lineStart = c == '\n';
    }
    if (!put(out, used)) return 1;
    used = 0;
  }
  memcpy(out + used, "\r\n.\r\n", 5);
  if (!put(out, used + 5) || !expect("250")) return 1;
  command("QUIT\r\n", "221");
  close(fd);
  return 0;
}
