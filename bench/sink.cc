// A fast SMTP sink for the benchmark: serves one connection after another on
// 127.0.0.1:25, accepts everything, and appends one line per message to the
// stats file: the DATA byte count (terminator included) and whether the
// end-of-data sequence arrived. Given a PEM file with a key and certificate,
// it also offers STARTTLS, and through TLS AUTH PLAIN and LOGIN (any login
// passes). It offers PIPELINING: commands that come together are answered
// in order. With --discard PORT it parses nothing: it reads each connection
// on 127.0.0.1:PORT to its end and records the byte count, the ceiling of
// what loopback carries. Ends on SIGTERM.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
constexpr char kTerminator[] = "\r\n.\r\n";
constexpr std::size_t kTerminatorLength = 5;

SSL_CTX* tlsContext = nullptr;  // set when STARTTLS is offered

// The client's connection, in clear or, after STARTTLS, through TLS.
struct Client {
  int fd;
  SSL* ssl = nullptr;
  ssize_t Receive(char* buffer, std::size_t capacity) {
    return ssl ? SSL_read(ssl, buffer, static_cast<int>(capacity)) : ::recv(fd, buffer, capacity, 0);
  }
};

bool Say(Client& client, const char* text) {
  std::size_t length = std::strlen(text);
  if (client.ssl) return SSL_write(client.ssl, text, static_cast<int>(length)) == static_cast<int>(length);
  return ::send(client.fd, text, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
}

void Record(const char* statsPath, unsigned long long bytes, bool whole) {
  if (FILE* stats = std::fopen(statsPath, "a")) {
    std::fprintf(stats, "%llu %s\n", bytes, whole ? "whole" : "cut");
    std::fclose(stats);
  }
}

// Where the DATA text ends in data: the count of data bytes up to and with
// the terminator, which may have begun in tail (the bytes before data).
std::size_t TerminatorEnd(const std::string& tail, const char* data, std::size_t length) {
  std::string joint = tail + std::string(data, std::min(length, kTerminatorLength));
  std::size_t found = joint.find(kTerminator);
  if (found != std::string::npos) return found + kTerminatorLength - tail.size();
  const char* end = static_cast<const char*>(::memmem(data, length, kTerminator, kTerminatorLength));
  return end ? static_cast<std::size_t>(end - data) + kTerminatorLength : std::string::npos;
}

void Serve(int fd, const char* statsPath) {
  Client client{fd};
  std::vector<char> buffer(kBufferSize);
  std::string line;
  int authLines = 0;  // lines still due for the AUTH exchange under way
  bool inData = false;
  unsigned long long dataBytes = 0;  // DATA text so far, terminator included
  std::string tail;                  // its last bytes, at most four
  Say(client, "220 sink ready\r\n");
  for (;;) {
    ssize_t got = client.Receive(buffer.data(), buffer.size());
    if (got <= 0) break;
    const char* data = buffer.data();
    std::size_t length = static_cast<std::size_t>(got);
    while (length > 0) {
      if (inData) {
        std::size_t end = TerminatorEnd(tail, data, length);
        if (end == std::string::npos) {
          dataBytes += length;
          tail = (tail + std::string(data + length - std::min<std::size_t>(length, 4), std::min<std::size_t>(length, 4)));
          tail = tail.substr(tail.size() - std::min<std::size_t>(tail.size(), 4));
          break;
        }
        dataBytes += end;
        Record(statsPath, dataBytes, true);
        inData = false;
        data += end;
        length -= end;
        Say(client, "250 2.0.0 accepted\r\n");
        continue;
      }
      const char* newline = static_cast<const char*>(std::memchr(data, '\n', length));
      std::size_t take = newline ? static_cast<std::size_t>(newline - data) + 1 : length;
      line.append(data, take);
      data += take;
      length -= take;
      if (!newline) break;
      if (authLines > 0) {
        Say(client, --authLines > 0 ? "334 UGFzc3dvcmQ6\r\n" : "235 2.7.0 accepted\r\n");
      } else if (line.rfind("AUTH ", 0) == 0 && client.ssl) {
        // PLAIN with its response on the line is done; PLAIN without it wants one line, LOGIN two.
        bool login = line.rfind("AUTH LOGIN", 0) == 0;
        bool withResponse = !login && line.find(' ', 5) != std::string::npos;
        authLines = login ? 2 : withResponse ? 0 : 1;
        Say(client, authLines == 0 ? "235 2.7.0 accepted\r\n" : login ? "334 VXNlcm5hbWU6\r\n" : "334 \r\n");
      } else if (line.rfind("DATA", 0) == 0) {
        inData = true;
        dataBytes = 0;
        tail = "\r\n";  // an empty message ends with ".\r\n" at once
        Say(client, "354 go ahead\r\n");
      } else if (line.rfind("QUIT", 0) == 0) {
        Say(client, "221 bye\r\n");
        break;
      } else if (line.rfind("STARTTLS", 0) == 0 && tlsContext && !client.ssl) {
        Say(client, "220 go ahead\r\n");
        client.ssl = SSL_new(tlsContext);
        SSL_set_fd(client.ssl, fd);
        if (SSL_accept(client.ssl) != 1) break;
      } else if (line.rfind("EHLO", 0) == 0) {
        Say(client, !tlsContext ? "250-sink\r\n250-PIPELINING\r\n250 8BITMIME\r\n"
                    : client.ssl ? "250-sink\r\n250-PIPELINING\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n"
                                 : "250-sink\r\n250-PIPELINING\r\n250-STARTTLS\r\n250 8BITMIME\r\n");
      } else {
        Say(client, "250 ok\r\n");
      }
      line.clear();
    }
  }
  if (inData) Record(statsPath, dataBytes, false);
  if (client.ssl) SSL_free(client.ssl);
  ::close(fd);
}

// Reads the connection to its end; records the bytes that came.
void Discard(int fd, const char* statsPath) {
  std::vector<char> buffer(kBufferSize);
  unsigned long long bytes = 0;
  ssize_t got;
  while ((got = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0) bytes += static_cast<unsigned long long>(got);
  Record(statsPath, bytes, got == 0);
  ::close(fd);
}

int Listen(int port) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0) {
    std::fprintf(stderr, "rymail_sink: 127.0.0.1:%d: %s\n", port, std::strerror(errno));
    return -1;
  }
  return listener;
}

}  // namespace

int main(int argc, char** argv) {
  bool discard = argc == 4 && std::strcmp(argv[2], "--discard") == 0;
  if (argc != 2 && argc != 3 && !discard) {
    std::fprintf(stderr, "usage: rymail_sink STATS_FILE [KEY_AND_CERTIFICATE.pem | --discard PORT]\n");
    return 2;
  }
  if (argc == 3) {
    tlsContext = SSL_CTX_new(TLS_server_method());
    if (SSL_CTX_use_certificate_chain_file(tlsContext, argv[2]) != 1 ||
        SSL_CTX_use_PrivateKey_file(tlsContext, argv[2], SSL_FILETYPE_PEM) != 1) {
      std::fprintf(stderr, "rymail_sink: cannot use %s\n", argv[2]);
      return 1;
    }
  }
  int listener = Listen(discard ? std::atoi(argv[3]) : 25);
  if (listener < 0) return 1;
  std::signal(SIGPIPE, SIG_IGN);
  int on = 1;
  for (;;) {
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (discard) {
      Discard(fd, argv[1]);
    } else {
      Serve(fd, argv[1]);
    }
  }
}
