#include "report_text.h"

namespace testkit {

std::string raw_value(const std::string& decoded) {
    std::string out;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        if (decoded[i] == '\\' && i + 1 < decoded.size() && decoded[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (decoded[i] == '\\' && i + 3 < decoded.size() && decoded[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(decoded.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += decoded[i];
        }
    }
    return out;
}

std::string text_of_json_report(const json_value& report) {
    static const char* const known[] = {"mac",      "vlan",       "dhcpvendor", "fingerprint",
                                        "hostname", "req_ipaddr", "option82"};
    for (const auto& [key, value] : report.members) {
        bool listed = false;
        for (const char* k : known) listed = listed || key == k;
        if (!listed) return "";
    }
    auto text = [&](const char* key) { return raw_value(report.find(key)->text); };
    auto line = [&](const char* key, const char* name) {
        return report.find(key) != nullptr ? std::string(name) + "='" + text(key) + "'\n" : "";
    };
    std::string out = line("mac", "mac");
    out += report.find("vlan") != nullptr ? "VLAN='" + report.find("vlan")->text + "'\n" : "\n";
    out += line("dhcpvendor", "dhcpvendor") + line("fingerprint", "fingerprint") +
           line("hostname", "hostname") + line("req_ipaddr", "req_ipaddr");
    if (const json_value* relay = report.find("option82")) {
        const json_value& circuit = *relay->find("circuit");
        out += "option82=remote_id " + relay->find("remote_id")->text + " circuit_id vlan " +
               circuit.find("vlan")->text + " unit " + circuit.find("unit")->text + " port " +
               circuit.find("port")->text + "\n";
    }
    return out + "\n";
}

}  // namespace testkit
