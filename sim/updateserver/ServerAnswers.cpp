#include "ServerAnswers.h"

#include "base64.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>

namespace {

using Parameters = std::map<std::string, std::string>;

constexpr int HTTP_OK = 200;
constexpr int HTTP_BAD_REQUEST = 400;
constexpr int HTTP_SERVER_ERROR = 500;
// The client hands this back when it fetches a build; every device here runs the same firmware line.
const char* const FIRMWARE_ID = "quorvanta";

struct BadQuery {
    std::string reason;
};

ServerAnswer _ok(const std::string& lines) {
    return {HTTP_OK, "ok\n" + lines};
}

ServerAnswer _refuse(const std::string& reason) {
    return {HTTP_OK, "error: " + reason + "\n"};
}

std::string _parameter(const Parameters& parameters, const std::string& key) {
    auto found = parameters.find(key);
    if (found == parameters.end())
        throw BadQuery{"missing " + key};
    return found->second;
}

uint32_t _number_parameter(const Parameters& parameters, const std::string& key, int base) {
    std::string text = _parameter(parameters, key);
    std::optional<uint32_t> value = BuildCatalogue::ParseNumber(text, base);
    if (!value)
        throw BadQuery{key + " '" + text + "' is not a number"};
    return *value;
}

std::string _serial_text(uint32_t serial) {
    char text[9];
    snprintf(text, sizeof(text), "%08X", serial);
    return text;
}

std::string _read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BuildCatalogue::Error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string _encode(const std::string& bytes) {
    size_t length = 0;
    std::unique_ptr<char, decltype(&free)> text(
        base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &length), &free);
    if (!text)
        throw BuildCatalogue::Error("out of memory encoding a build");
    return std::string(text.get(), length);
}

ServerAnswer _hi(const BuildCatalogue&, const Parameters&) {
    return _ok("");
}

ServerAnswer _current_build(const BuildCatalogue& catalogue, const Parameters& parameters) {
    uint32_t serial = _number_parameter(parameters, "sn", 16);
    std::optional<uint32_t> build = catalogue.CurrentBuild(serial);
    if (!build)
        return _refuse("no builds for " + _serial_text(serial));
    return _ok(std::to_string(*build) + "\n" + FIRMWARE_ID + "\n");
}

ServerAnswer _bird(const BuildCatalogue& catalogue, const Parameters& parameters) {
    uint32_t serial = _number_parameter(parameters, "sn", 16);
    uint32_t build = _number_parameter(parameters, "bld", 10);
    std::optional<std::string> path = catalogue.BuildPath(serial, build);
    if (!path)
        return _refuse("no build " + std::to_string(build) + " for " + _serial_text(serial));
    return _ok(_encode(_read_file(*path)) + "\n");
}

ServerAnswer _builds(const BuildCatalogue& catalogue, const Parameters& parameters) {
    std::string lines;
    for (const BuildCatalogue::Build& build : catalogue.Builds(_number_parameter(parameters, "sn", 16)))
        lines += std::to_string(build.number) + ";" + build.version + "\n";
    return _ok(lines);
}

ServerAnswer _fix(const BuildCatalogue& catalogue, const Parameters& parameters) {
    std::string text = _parameter(parameters, "fp");
    std::istringstream words(text);
    Fingerprint fingerprint;
    std::string word;
    for (uint32_t& value : fingerprint) {
        std::optional<uint32_t> parsed = words >> word ? BuildCatalogue::ParseNumber(word, 16) : std::nullopt;
        if (!parsed)
            throw BadQuery{"fp '" + text + "' is not four hex words"};
        value = *parsed;
    }
    std::optional<BuildCatalogue::Recovery> recovery = catalogue.FindRecovery(fingerprint);
    if (!recovery)
        return _refuse("unknown fingerprint " + text);
    return _ok(_serial_text(recovery->serial) + "\n" + std::to_string(recovery->build) + "\n");
}

ServerAnswer _ent_jwt(const BuildCatalogue& catalogue, const Parameters& parameters) {
    uint32_t serial = _number_parameter(parameters, "sn", 16);
    std::optional<std::string> token = catalogue.FindToken(serial);
    if (!token)
        return _refuse("no token for " + _serial_text(serial));
    return _ok(*token + "\n");
}

using Operation = std::function<ServerAnswer(const BuildCatalogue&, const Parameters&)>;

const std::map<std::string, Operation> OPERATIONS = {
    {"hi", _hi},         {"qu", _current_build}, {"bird", _bird},
    {"builds", _builds}, {"fix", _fix},          {"ent_jwt", _ent_jwt},
};

} // namespace

ServerAnswer AnswerQuery(const BuildCatalogue& catalogue, const Parameters& parameters) {
    auto op = parameters.find("op");
    auto operation = op == parameters.end() ? OPERATIONS.end() : OPERATIONS.find(op->second);
    if (operation == OPERATIONS.end())
        return {HTTP_BAD_REQUEST, "error: unknown op\n"};
    try {
        return operation->second(catalogue, parameters);
    } catch (const BadQuery& bad) {
        return {HTTP_BAD_REQUEST, "error: " + bad.reason + "\n"};
    } catch (const std::exception& error) {
        return {HTTP_SERVER_ERROR, "error: " + std::string(error.what()) + "\n"};
    }
}
