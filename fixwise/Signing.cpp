#include "Signing.h"

#include "FileFacts.h"

#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include "WinSignature.h"

std::string signingKeyProblem(const SigningKey&)
{
    return "signing needs the native fixwise (it signs with osslsigncode)";
}

bool signImage(const SigningKey&, const std::string&, const std::string&, std::string& why)
{
    why = "signing needs the native fixwise";
    return false;
}

SignatureCheck checkSignature(const std::string& path, const std::string&)
{
    const ImageSignature image = imageSignature(path);
    SignatureCheck check;
    check.signer = image.subject;
    check.thumbprint = image.signer;
    check.valid = image.state == ImageSignature::State::Valid;
    if (!check.valid) {
        char code[32];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(image.code));
        if (image.state == ImageSignature::State::Changed)
            check.why = "its signature does not match its contents (changed after signing)";
        else if (image.state == ImageSignature::State::Unsigned ||
                 image.state == ImageSignature::State::Unreadable)
            check.why = "its signature cannot be read";
        else
            check.why = std::string("its signature's certificate is not trusted (WinVerifyTrust ") +
                        code + ")";
    }
    return check;
}

#else
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::string passwordOf(const SigningKey& key, bool& readable)
{
    readable = true;
    if (key.passwordFile.empty())
        return "";
    const std::optional<std::string> text = readWholeFile(key.passwordFile);
    if (!text) {
        readable = false;
        return "";
    }
    std::string password = text->substr(0, text->find('\n'));
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password;
}

// Runs a program with its arguments (no shell), its output into output.
int runProgram(const std::vector<std::string>& args, std::string& output)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return -1;
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The value after the first "label" of a line in text, up to its end.
std::string valueAfter(const std::string& text, const char* label)
{
    const std::size_t at = text.find(label);
    if (at == std::string::npos)
        return "";
    const std::size_t from = at + std::strlen(label);
    const std::size_t end = text.find('\n', from);
    std::string value = text.substr(from, end == std::string::npos ? end : end - from);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r'))
        value.pop_back();
    return value;
}

} // namespace

std::string signingKeyProblem(const SigningKey& key)
{
    bool readable = true;
    const std::string password = passwordOf(key, readable);
    if (!readable)
        return "cannot read the password file " + key.passwordFile;
    std::FILE* file = std::fopen(key.pfx.c_str(), "rb");
    if (!file)
        return "cannot read the certificate " + key.pfx;
    PKCS12* p12 = d2i_PKCS12_fp(file, nullptr);
    std::fclose(file);
    if (!p12)
        return "cannot read the certificate " + key.pfx + ": it is no PKCS#12 (.pfx) file";
    EVP_PKEY* privateKey = nullptr;
    X509* cert = nullptr;
    std::string problem;
    if (!PKCS12_verify_mac(p12, password.c_str(), -1))
        problem = "the password does not open the certificate " + key.pfx;
    else if (!PKCS12_parse(p12, password.c_str(), &privateKey, &cert, nullptr) || !cert ||
             !privateKey)
        problem = "the certificate " + key.pfx + " holds no certificate with its private key";
    else if (X509_cmp_current_time(X509_get0_notAfter(cert)) <= 0)
        problem = "the certificate " + key.pfx + " has expired";
    else if (X509_cmp_current_time(X509_get0_notBefore(cert)) >= 0)
        problem = "the certificate " + key.pfx + " is not valid yet";
    X509_free(cert);
    EVP_PKEY_free(privateKey);
    PKCS12_free(p12);
    return problem;
}

bool signImage(const SigningKey& key, const std::string& from, const std::string& to,
               std::string& why)
{
    std::vector<std::string> args = {"osslsigncode", "sign", "-pkcs12", key.pfx, "-h", "sha256"};
    if (!key.passwordFile.empty()) {
        args.push_back("-readpass");
        args.push_back(key.passwordFile);
    }
    if (!key.timestampUrl.empty()) {
        args.push_back("-ts");
        args.push_back(key.timestampUrl);
    }
    args.insert(args.end(), {"-in", from, "-out", to});
    std::string output;
    const int code = runProgram(args, output);
    if (code == 0)
        return true;
    why = code == 127 ? "osslsigncode cannot be started (is it installed?)"
                      : "osslsigncode failed: " + output.substr(0, output.find('\n'));
    return false;
}

SignatureCheck checkSignature(const std::string& path, const std::string& caFile)
{
    std::vector<std::string> args = {"osslsigncode", "verify", "-in", path};
    if (!caFile.empty()) {
        args.push_back("-CAfile");
        args.push_back(caFile);
    }
    std::string output;
    const int code = runProgram(args, output);
    SignatureCheck check;
    check.signer = valueAfter(output, "Subject: ");
    const std::string serial = valueAfter(output, "Serial : ");
    if (!serial.empty())
        check.signer += " (serial " + serial + ")";
    check.valid = code == 0;
    if (check.valid)
        return check;
    if (code == 127)
        check.why = "osslsigncode cannot be started (is it installed?)";
    else if (output.find("MISMATCH") != std::string::npos)
        check.why = "its signature does not match its contents (changed after signing)";
    else if (output.find("No signature found") != std::string::npos)
        check.why = "its signature cannot be read";
    else
        check.why = "its signature's certificate is not trusted" +
                    std::string(caFile.empty() ? " (no --ca given)" : " by " + caFile);
    return check;
}
#endif
