#include "ftp_connection.h"

#include "pwd_reply.h"
#include "transcript.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace quorvane::client {
namespace {

std::string upperFirstWord(std::string_view line)
{
    const auto begin = line.find_first_not_of(' ');
    if (begin == std::string_view::npos)
        return {};
    const auto end = line.find(' ', begin);
    std::string word(line.substr(begin, end == std::string_view::npos ? end : end - begin));
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return word;
}

}  // namespace

ServerFeatures parseFeatures(const Reply& featReply)
{
    ServerFeatures features;
    if (featReply.code != 211)
        return features;
    std::istringstream lines(featReply.text);
    std::string line;
    std::getline(lines, line);  // "211-Features:"
    while (std::getline(lines, line)) {
        const std::string feature = upperFirstWord(line);
        features.mlst |= feature == "MLST";
        features.epsv |= feature == "EPSV";
        features.utf8 |= feature == "UTF8";
        features.size |= feature == "SIZE";
        features.mdtm |= feature == "MDTM";
    }
    return features;
}

std::shared_ptr<FtpConnection> FtpConnection::logIn(const Credentials& credentials,
                                                    HINTERNET parent)
{
    auto connection = std::make_shared<FtpConnection>(credentials, parent);
    return connection->connect(deadlineIn(kLogInTimeout)) ? connection : nullptr;
}

bool FtpConnection::connect(Deadline deadline)
{
    if (credentials_.tls && !tls_ && !(tls_ = TlsContext::create())) {
        SetLastError(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        return false;
    }
    control_ = ControlConnection::open(credentials_.host, credentials_.port, deadline);
    const DeadlineCap cap(control_, deadline);
    if (!control_)
        return false;
    if ((!tls_ || startTls()) && authenticate(credentials_) && (!tls_ || protectData()) &&
        prepare())
        return true;
    control_.reset();  // drop the socket; a QUIT is not owed here
    return false;
}

bool FtpConnection::startTls()
{
    // Nothing else is ever sent to a server that will not protect the
    // session: never the user name, never the password.
    const auto reply = control_->execute("AUTH TLS");
    if (reply && reply->code != 234) {
        traceRefusal(*reply);
        SetLastError(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    }
    return reply && reply->code == 234 && control_->startTls(*tls_, credentials_.host);
}

bool FtpConnection::protectData()
{
    if (!simpleCommand("PBSZ", "0") || !simpleCommand("PROT", "P"))
        return false;
    // Taken after the first replies: under TLS 1.3 the server's tickets
    // arrive after the handshake, and a session without one resumes nothing.
    tlsSession_ = control_->tlsSession();
    return true;
}

bool FtpConnection::authenticate(const Credentials& credentials)
{
    auto reply = control_->execute("USER " + credentials.user);
    if (reply && reply->code == 331)
        reply = control_->execute("PASS " + credentials.password);
    // 230 logged in (also straight after USER); 202 "not needed" is as good.
    if (reply && (reply->code == 230 || reply->code == 202))
        return true;
    // 332 asks for an account, which we cannot give.
    if (reply) {
        traceRefusal(*reply);
        SetLastError(ERROR_INTERNET_LOGIN_FAILURE);
    }
    return false;
}

bool FtpConnection::prepare()
{
    const auto type = control_->execute("TYPE I");
    if (!type || !type->isCompletion()) {
        if (type) {
            traceRefusal(*type);
            SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        }
        return false;
    }
    // FEAT is optional (RFC 2389): a refusal just means no extensions.
    const auto feat = control_->execute("FEAT");
    if (!feat)
        return false;
    features_ = parseFeatures(*feat);
    // Servers such as IIS and Pure-FTPd keep names in a legacy code page until told.
    if (features_.utf8 && !control_->execute("OPTS UTF8 ON"))
        return false;
    return true;
}

bool FtpConnection::simpleCommand(std::string_view verb, std::string_view argument,
                                  int expected)
{
    if (!control_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    std::string line(verb);
    line.append(" ").append(argument);
    const auto reply = control_->execute(line);
    if (!reply)
        return false;
    if (reply->code / 100 != expected) {
        traceRefusal(*reply);
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return false;
    }
    return true;
}

bool FtpConnection::ensureConnected()
{
    if (!isIdle())
        return false;
    if (control_ && control_->isReadyForCommand())
        return true;
    control_.reset();
    if (closed_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    trace::line() << "logging in again";
    const Deadline deadline = deadlineIn(kLogInTimeout);
    if (!connect(deadline))
        return false;
    if (folderChanged_) {
        // Back to the caller's folder. Where that cannot be done (it is
        // unknown, or gone since), the session still serves absolute names.
        const DeadlineCap cap(control_, deadline);
        folderLost_ = !folder_ || !simpleCommand("CWD", *folder_);
        if (!control_->isAlive()) {
            control_.reset();
            return false;
        }
        if (folderLost_)
            trace::line() << "the folder is lost: relative names are refused until the next listing";
    }
    return true;
}

bool FtpConnection::isUsableName(std::string_view path)
{
    if (folderLost_ && !isAbsolute(path)) {
        trace::line() << "cause: a relative name, while the folder it would resolve in is lost";
        SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return false;
    }
    return true;
}

bool FtpConnection::changeDirectory(std::string_view path)
{
    std::lock_guard lock(mutex_);
    if (!ensureConnected() || !isUsableName(path) || !simpleCommand("CWD", path))
        return false;
    folderChanged_ = true;
    folderLost_ = false;
    if (isAbsolute(path)) {
        folder_ = std::string(path);
        return true;
    }
    // A relative name means nothing after a reconnection: ask where it led.
    const auto pwd = control_->execute("PWD");
    folder_ = pwd ? parsePwdReply(pwd->text) : std::nullopt;
    return true;
}

bool FtpConnection::deleteFile(std::string_view path)
{
    std::lock_guard lock(mutex_);
    return ensureConnected() && isUsableName(path) && simpleCommand("DELE", path);
}

bool FtpConnection::createDirectory(std::string_view path)
{
    std::lock_guard lock(mutex_);
    return ensureConnected() && isUsableName(path) && simpleCommand("MKD", path);
}

bool FtpConnection::removeDirectory(std::string_view path)
{
    std::lock_guard lock(mutex_);
    return ensureConnected() && isUsableName(path) && simpleCommand("RMD", path);
}

bool FtpConnection::rename(std::string_view from, std::string_view to)
{
    std::lock_guard lock(mutex_);
    // RNTO only after the server has accepted RNFR with 350, on the same connection.
    return ensureConnected() && isUsableName(from) && isUsableName(to) &&
           simpleCommand("RNFR", from, 3) && simpleCommand("RNTO", to);
}

void FtpConnection::close()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    if (control_)
        control_->quit();
    control_.reset();
}

}  // namespace quorvane::client
