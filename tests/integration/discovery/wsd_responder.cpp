// tb-wsd-responder: a WS-Discovery printer for the tests. It joins the
// WS-Discovery group on the given address, and answers every Probe with a
// ProbeMatch for a print device, sent back to the prober. With --doctype
// the answer carries a document type declaration (which the search must
// ignore); with --types it announces other types.
//
//   tb-wsd-responder --address 10.99.0.25 [--doctype] [--types "wprt:PrintDevice"]

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string between(std::string const& text, std::string const& open_suffix, std::string const& close)
{
    size_t open = text.find(open_suffix);
    if (open == std::string::npos)
        return {};
    size_t start = text.find('>', open);
    size_t end = text.find(close, start);
    if (start == std::string::npos || end == std::string::npos)
        return {};
    return text.substr(start + 1, end - start - 1);
}

} // namespace

int main(int argc, char** argv)
{
    std::string address, types = "wprt:PrintDevice";
    bool doctype = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--address" && i + 1 < argc)
            address = argv[++i];
        else if (arg == "--types" && i + 1 < argc)
            types = argv[++i];
        else if (arg == "--doctype")
            doctype = true;
    }
    in_addr local {};
    if (inet_pton(AF_INET, address.c_str(), &local) != 1) {
        std::fprintf(stderr, "usage: tb-wsd-responder --address A [--doctype] [--types T]\n");
        return 2;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in bind_to {};
    bind_to.sin_family = AF_INET;
    bind_to.sin_port = htons(3702);
    bind_to.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&bind_to), sizeof bind_to) != 0) {
        std::perror("bind");
        return 1;
    }
    ip_mreq group {};
    inet_pton(AF_INET, "239.255.255.250", &group.imr_multiaddr);
    group.imr_interface = local;
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) != 0) {
        std::perror("IP_ADD_MEMBERSHIP");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    char buffer[16384];
    while (true) {
        sockaddr_in from {};
        socklen_t from_length = sizeof from;
        ssize_t got = recvfrom(fd, buffer, sizeof buffer - 1, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
        if (got <= 0)
            continue;
        std::string probe(buffer, static_cast<size_t>(got));
        if (probe.find("Probe") == std::string::npos || probe.find("ProbeMatch") != std::string::npos)
            continue;
        std::string id = between(probe, "MessageID", "</");
        std::string answer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
        if (doctype)
            answer += "<!DOCTYPE e [<!ENTITY x \"PrintDevice\">]>";
        answer += "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\" "
                  "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
                  "xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
                  "xmlns:wprt=\"http://schemas.microsoft.com/windows/2006/08/wdp/print\">"
                  "<soap:Header><wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</wsa:To>"
                  "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
                  "<wsa:MessageID>urn:uuid:7d1c2a3e-0000-4000-8000-00000000beef</wsa:MessageID>"
                  "<wsa:RelatesTo>"
            + id
            + "</wsa:RelatesTo></soap:Header><soap:Body><wsd:ProbeMatches><wsd:ProbeMatch>"
              "<wsa:EndpointReference><wsa:Address>urn:uuid:5a0b0c0d-0000-4000-8000-0000000000aa</wsa:Address>"
              "</wsa:EndpointReference><wsd:Types>"
            + (doctype ? std::string("wprt:&x;") : types) + "</wsd:Types><wsd:XAddrs>http://" + address
            + ":5357/</wsd:XAddrs><wsd:MetadataVersion>1</wsd:MetadataVersion></wsd:ProbeMatch></wsd:ProbeMatches>"
              "</soap:Body></soap:Envelope>";
        usleep(20000);
        sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), from_length);
    }
}
