// A printer on the loopback address that takes print data and answers the
// ink-level query (remote-mode IQ) with a fixed answer, or never answers.
//
// Usage: fake_printer PORT-FILE [ANSWER]
// Writes the port it listens on to PORT-FILE; serves until killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

// Serves one connection after another, answering the ink-level question once each.
int main(int argc, char *argv[])
{
  if (argc < 2) return 2;
  std::string answer = argc > 2 ? argv[2] : "";
  int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (server < 0 || bind(server, (sockaddr *)&addr, sizeof(addr)) < 0 || listen(server, 4) < 0 ||
      getsockname(server, (sockaddr *)&addr, &len) < 0)
    return 1;
  FILE *port = fopen(argv[1], "w");
  if (!port) return 1;
  fprintf(port, "%d\n", ntohs(addr.sin_port));
  fclose(port);
  for (;;) {
    int client = accept(server, nullptr, nullptr);
    if (client < 0) continue;
    std::string received;
    char buffer[4096];
    ssize_t n;
    bool answered = false;
    while ((n = read(client, buffer, sizeof(buffer))) > 0) {
      received.append(buffer, (size_t)n);
      if (!answered && !answer.empty() && received.find("IQ\001\000\001") != std::string::npos)
        answered = write(client, answer.data(), answer.size()) == (ssize_t)answer.size();
    }
    close(client);
  }
}
