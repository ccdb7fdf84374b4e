// build: a release folder of the update channel from a directory tree.
//
// The folder is written below CHANNEL/VERSION/ and holds, for one product
// flavour, every file of the tree in its section's sub-folder (as a
// "._lzma2_" package, a gzip file or unchanged), the product ini listing them
// with their SHA-512 digests and sizes, the packed product ini and its
// signature. Files are written aside and renamed into place, and the three
// product ini files come last: a folder whose build was interrupted has no
// manifest and is never taken for a release.

#include "commands.h"

#include "qvpatch/bytesink.h"
#include "qvpatch/packagewriter.h"

#include <tomcrypt.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fnmatch.h>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

enum class Form
{
    Package, // "<path>._lzma2_", 5-field line
    Gzip,    // "<path>.gz", 5-field line
    Plain,   // "<path>", 2-field line
};

struct FormRule
{
    Form form;
    std::string pattern;
};

struct InstallLine
{
    std::string command;
    std::string value;
};

// The release description: how files are published and the lines that do
// not come from the tree.
struct Description
{
    std::string section;
    std::vector<FormRule> rules;
    std::vector<std::pair<std::string, std::string>> deletes; // path, kind
    std::vector<InstallLine> preInstalls;
    std::vector<InstallLine> postInstalls;
};

// Names go into the product ini unquoted and unescaped, where the updater's
// INI reader would bend anything beyond this set (spaces are trimmed, "%" and
// "\" are escapes, ";" and "," have meanings, bytes above 127 are not read as
// UTF-8). A release is restricted to such names rather than risk a manifest
// that names files differently from the folder.
bool isPlainName(const std::string &name)
{
    if (name.empty())
        return false;
    for (unsigned char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || std::strchr("._+-/@~", c) != nullptr;
        if (!ok || c == 0)
            return false;
    }
    return name.front() != '/';
}

bool isContainedPath(const std::string &path)
{
    if (!isPlainName(path))
        return false;
    std::stringstream components(path);
    std::string component;
    while (std::getline(components, component, '/')) {
        if (component == "..")
            return false;
    }
    return true;
}

std::vector<std::string> splitWords(const std::string &line)
{
    std::vector<std::string> words;
    std::istringstream stream(line);
    std::string word;
    while (stream >> word)
        words.push_back(word);
    return words;
}

bool readDescription(const std::string &path, Description *description, std::string *error)
{
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::vector<std::string> words = splitWords(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        const std::string &keyword = words[0];
        if (keyword == "section" && words.size() == 2) {
            description->section = words[1];
        } else if ((keyword == "plain" || keyword == "gzip") && words.size() == 2) {
            description->rules.push_back({keyword == "plain" ? Form::Plain : Form::Gzip, words[1]});
        } else if (keyword == "delete" && words.size() == 3) {
            const std::string &kind = words[2];
            if (!isPlainName(words[1]) || !std::all_of(kind.begin(), kind.end(), [](char c) {
                    return c >= '0' && c <= '9';
                })) {
                *error = where + "delete needs a plain path and a decimal kind";
                return false;
            }
            description->deletes.emplace_back(words[1], kind);
        } else if ((keyword == "preinstall" || keyword == "postinstall") && words.size() == 3) {
            if (!isContainedPath(words[1]) ||
                words[2].find_first_of(";\"\\%") != std::string::npos) {
                *error = where + "install command must be a relative plain path, its value "
                                 "free of ';', '\"', '\\' and '%'";
                return false;
            }
            (keyword == "preinstall" ? description->preInstalls : description->postInstalls)
                .push_back({words[1], words[2]});
        } else {
            *error = where + "not understood: " + line;
            return false;
        }
    }
    return true;
}

Form formOf(const std::string &relativePath, const Description &description)
{
    for (const FormRule &rule : description.rules) {
        if (fnmatch(rule.pattern.c_str(), relativePath.c_str(), 0) == 0)
            return rule.form;
    }
    return Form::Package;
}

std::string sha512Hex(const uint8_t *data, std::size_t n)
{
    hash_state state;
    unsigned char digest[64];
    sha512_init(&state);
    // sha512_process takes an unsigned long length; feed large files in parts.
    constexpr std::size_t chunk = std::size_t(1) << 30;
    for (std::size_t done = 0; done < n; done += chunk)
        sha512_process(&state, data + done, static_cast<unsigned long>(std::min(chunk, n - done)));
    sha512_done(&state, digest);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

bool gzipBytes(const uint8_t *data, std::size_t n, std::vector<uint8_t> *out, std::string *error)
{
    z_stream stream{};
    // Window bits 15 + 16: a gzip wrapper with a zero time stamp, so the same
    // input always gives the same bytes.
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        *error = "gzip: cannot initialise zlib";
        return false;
    }
    out->resize(deflateBound(&stream, uLong(n)) + 64);
    stream.next_in = const_cast<Bytef *>(data);
    stream.avail_in = uInt(n);
    stream.next_out = out->data();
    stream.avail_out = uInt(out->size());
    const int result = deflate(&stream, Z_FINISH);
    out->resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        *error = "gzip: compression failed";
        return false;
    }
    return true;
}

// RSASSA-PSS with SHA-1 and an 8-byte salt, the signature the updater checks.
bool signBytes(const std::string &keyPath, const std::string &message,
               std::vector<uint8_t> *signature, std::string *error)
{
    InputFile keyFile;
    if (!keyFile.open(keyPath, error))
        return false;
    ltc_mp = ltm_desc;
    const int prng = register_prng(&sprng_desc);
    const int sha1 = register_hash(&sha1_desc);
    if (prng < 0 || sha1 < 0) {
        *error = "cannot register the signing algorithms";
        return false;
    }
    rsa_key key;
    if (rsa_import(keyFile.data(), static_cast<unsigned long>(keyFile.size()), &key) != CRYPT_OK) {
        *error = keyPath + " is not a DER RSA key";
        return false;
    }
    bool ok = false;
    if (key.type != PK_PRIVATE) {
        *error = keyPath + " is not a private key";
    } else {
        unsigned char digest[20];
        unsigned long digestLength = sizeof digest;
        signature->resize(1024);
        unsigned long length = static_cast<unsigned long>(signature->size());
        int result = hash_memory(sha1, reinterpret_cast<const unsigned char *>(message.data()),
                                 static_cast<unsigned long>(message.size()), digest, &digestLength);
        if (result == CRYPT_OK)
            result = rsa_sign_hash_ex(digest, digestLength, signature->data(), &length,
                                      LTC_PKCS_1_PSS, nullptr, prng, sha1, 8, &key);
        if (result == CRYPT_OK) {
            signature->resize(length);
            ok = true;
        } else {
            *error = std::string("signing failed: ") + error_to_string(result);
        }
    }
    rsa_free(&key);
    return ok;
}

bool writeBytes(const fs::path &path, const uint8_t *data, std::size_t n, std::string *error)
{
    std::error_code code;
    fs::create_directories(path.parent_path(), code);
    if (code) {
        *error = "cannot create " + path.parent_path().string() + ": " + code.message();
        return false;
    }
    return writeOutputFile(path.string(), data, n, error);
}

bool writeText(const fs::path &path, const std::string &text, std::string *error)
{
    return writeBytes(path, reinterpret_cast<const uint8_t *>(text.data()), text.size(), error);
}

// The tree's regular files as relative paths, sorted, so two builds of the
// same tree write the same manifest.
bool listTree(const fs::path &root, std::vector<std::string> *files, std::string *error)
{
    std::error_code code;
    fs::recursive_directory_iterator it(root, code);
    if (code) {
        *error = "cannot read " + root.string() + ": " + code.message();
        return false;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(code)) {
        if (code) {
            *error = "cannot read " + root.string() + ": " + code.message();
            return false;
        }
        const fs::file_status status = it->symlink_status();
        if (fs::is_directory(status))
            continue;
        const std::string relative = fs::relative(it->path(), root).generic_string();
        if (!fs::is_regular_file(status)) {
            *error = relative + ": only regular files and directories can be released";
            return false;
        }
        if (!isContainedPath(relative)) {
            *error = relative + ": file names may only use letters, digits and ._+-@~";
            return false;
        }
        // The updater reads any key with this ending as a patch line.
        const std::string patchSuffix = "_patch_";
        if (relative.size() >= patchSuffix.size() &&
            relative.compare(relative.size() - patchSuffix.size(), patchSuffix.size(),
                             patchSuffix) == 0) {
            *error = relative + ": a released file name cannot end with '_patch_'";
            return false;
        }
        files->push_back(relative);
    }
    std::sort(files->begin(), files->end());
    return true;
}

} // namespace

int runBuild(const Command &command, const std::vector<std::string> &args)
{
    Arguments arguments;
    std::string error;
    if (!arguments.parse(
            args, 2, {{"--key", true}, {"--product", true}, {"--version", true}, {"--input", true}},
            &error))
        return usageError(command, error);
    if (!arguments.has("--key") || !arguments.has("--product") || !arguments.has("--version"))
        return usageError(command, "--key, --product and --version are required");

    const std::string product = arguments.value("--product");
    std::string iniName;
    Description description;
    if (product == "client") {
        iniName = "qvx_client_linux_amd64.ini";
        description.section = "client";
    } else if (product == "updater") {
        iniName = "update_linux_amd64.ini";
        description.section = "updater";
    } else {
        return usageError(command, "--product must be 'client' or 'updater'");
    }
    const std::string versionText = arguments.value("--version");
    char *end = nullptr;
    errno = 0;
    const long version = std::strtol(versionText.c_str(), &end, 10);
    if (versionText.empty() || *end != '\0' || errno != 0 || version <= 0 || version > 0x7fffffff)
        return usageError(command, "--version must be a positive decimal number");

    if (arguments.has("--input") &&
        !readDescription(arguments.value("--input"), &description, &error))
        return failure(error);
    const std::string &section = description.section;
    if (!isPlainName(section) || section.find('/') != std::string::npos || section == "delete" ||
        section == "preinstall" || section == "postinstall" || section == "General")
        return failure("'" + section + "' cannot be a file section");

    const fs::path tree = arguments.positional(0);
    const fs::path releaseDir = fs::path(arguments.positional(1)) / std::to_string(version);
    std::vector<std::string> files;
    if (!listTree(tree, &files, &error))
        return failure(error);

    std::string fileLines;
    for (const std::string &relative : files) {
        InputFile input;
        if (!input.open((tree / relative).string(), &error))
            return failure(error);
        const std::string digest = sha512Hex(input.data(), input.size());
        const std::string size = std::to_string(input.size());
        const Form form = formOf(relative, description);
        if (form == Form::Plain) {
            if (!writeBytes(releaseDir / section / relative, input.data(), input.size(), &error))
                return failure(error);
            fileLines += relative + "=" + digest + "::" + size + "\n";
            continue;
        }
        std::vector<uint8_t> gzip;
        qvpatch::ByteSink package;
        const uint8_t *published = nullptr;
        std::size_t publishedSize = 0;
        std::string key;
        if (form == Form::Gzip) {
            if (!gzipBytes(input.data(), input.size(), &gzip, &error))
                return failure(relative + ": " + error);
            published = gzip.data();
            publishedSize = gzip.size();
            key = relative + ".gz";
        } else {
            if (!qvpatch::writePlainPackage(input.data(), input.size(), &package))
                return failure("build: could not pack " + relative);
            published = package.data();
            publishedSize = package.length();
            key = relative + "._lzma2_";
        }
        if (!writeBytes(releaseDir / section / key, published, publishedSize, &error))
            return failure(error);
        fileLines += key + "=" + sha512Hex(published, publishedSize) +
                     "::" + std::to_string(publishedSize) + "::" + digest + "::" + size +
                     "::" + relative + "\n";
    }

    std::string ini;
    if (!fileLines.empty())
        ini += "[" + section + "]\n" + fileLines;
    if (!description.deletes.empty()) {
        ini += "\n[delete]\n";
        for (const auto &line : description.deletes)
            ini += line.first + "=" + line.second + "\n";
    }
    for (const auto &[name, lines] : {std::make_pair("preinstall", &description.preInstalls),
                                      std::make_pair("postinstall", &description.postInstalls)}) {
        if (lines->empty())
            continue;
        ini += std::string("\n[") + name + "]\n";
        for (const InstallLine &line : *lines)
            ini += line.command + "=" + line.value + "\n";
    }

    std::vector<uint8_t> signature;
    if (!signBytes(arguments.value("--key"), ini, &signature, &error))
        return failure(error);
    qvpatch::ByteSink packedIni;
    if (!qvpatch::writePlainPackage(reinterpret_cast<const uint8_t *>(ini.data()), ini.size(),
                                    &packedIni))
        return failure("build: could not pack the product ini");
    if (!writeText(releaseDir / iniName, ini, &error) ||
        !writeBytes(releaseDir / (iniName + "._lzma2_"), packedIni.data(), packedIni.length(),
                    &error) ||
        !writeBytes(releaseDir / (iniName + ".sig"), signature.data(), signature.size(), &error))
        return failure(error);
    std::printf("%s: %zu files in section [%s]\n", (releaseDir / iniName).c_str(), files.size(),
                section.c_str());
    return ExitSuccess;
}
