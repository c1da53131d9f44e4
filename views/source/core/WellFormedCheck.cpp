#include "views/source/core/WellFormedCheck.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <mutex>

#include "doc/core/ParseLimits.h"

namespace quorrel {

namespace {

// What the callbacks of one parse share, reached through the context's _private.
struct CheckSession {
    const std::function<bool()>* stopRequested = nullptr;
    xmlParserCtxtPtr ctxt = nullptr;
    std::optional<WellFormedResult> first;
    bool stopped = false;
};

std::string Trimmed(const char* message) {
    std::string s = message ? message : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) {
        s.pop_back();
    }
    return s;
}

void Record(CheckSession& session, const xmlError* e) {
    if (session.first || e == nullptr || e->level < XML_ERR_ERROR) {
        return;
    }
    // An entity the external DTD may declare: that DTD is never read here.
    if (e->code == XML_WAR_UNDECLARED_ENTITY) {
        return;
    }
    std::string reason = Trimmed(e->message);
    if (reason.starts_with("Excessive depth in document")) {
        // The parser's text names an option the user cannot set.
        reason = "Excessive depth in document: elements are nested more than " +
                 std::to_string(kMaxElementDepth) + " levels deep";
    }
    session.first =
        WellFormedResult{WellFormedResult::Status::Error, e->line, e->int2, std::move(reason)};
}

// Errors of the parse, with the context as user data.
void OnParserError(void* userData, xmlErrorPtr e) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
    if (ctxt != nullptr && ctxt->_private != nullptr) {
        Record(*static_cast<CheckSession*>(ctxt->_private), e);
    }
}

// Errors that bypass the context go to the thread's own handler.
void OnThreadError(void* session, xmlErrorPtr e) {
    if (session != nullptr) {
        Record(*static_cast<CheckSession*>(session), e);
    }
}

class ThreadErrorScope {
public:
    explicit ThreadErrorScope(CheckSession* session)
        : m_handler(xmlStructuredError), m_context(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(session, OnThreadError);
    }
    ~ThreadErrorScope() { xmlSetStructuredErrorFunc(m_context, m_handler); }
    ThreadErrorScope(const ThreadErrorScope&) = delete;
    ThreadErrorScope& operator=(const ThreadErrorScope&) = delete;

private:
    xmlStructuredErrorFunc m_handler;
    void* m_context;
};

CheckSession& SessionOf(void* ctx) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    return *static_cast<CheckSession*>(ctxt->_private);
}

// Every content callback only looks whether the check is still wanted; once
// stopped, the parser makes no more callbacks.
void Poll(void* ctx) {
    CheckSession& session = SessionOf(ctx);
    if (*session.stopRequested && (*session.stopRequested)()) {
        session.stopped = true;
        xmlStopParser(session.ctxt);
    }
}

void OnStartElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**,
                    int, int, const xmlChar**) {
    Poll(ctx);
}
void OnEndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    Poll(ctx);
}
void OnCharacters(void* ctx, const xmlChar*, int) {
    Poll(ctx);
}
void OnName(void* ctx, const xmlChar*) {
    Poll(ctx);
}
void OnPi(void* ctx, const xmlChar*, const xmlChar*) {
    Poll(ctx);
}
xmlParserInputPtr RefuseEntity(void*, const xmlChar*, const xmlChar*) {
    return nullptr;
}

// An external parameter entity is never read, so whatever it might declare is
// unknown: the parser is told so, and an undeclared entity stays a warning.
xmlEntityPtr OnGetParameterEntity(void* ctx, const xmlChar* name) {
    xmlEntityPtr entity = xmlSAX2GetParameterEntity(ctx, name);
    if (entity != nullptr && entity->etype == XML_EXTERNAL_PARAMETER_ENTITY) {
        static_cast<xmlParserCtxtPtr>(ctx)->hasPErefs = 1;
    }
    return entity;
}

// Keeps the declarations (entities must be known) but builds no tree.
void PrepareHandler(xmlSAXHandler& sax) {
    sax.startElementNs = OnStartElement;
    sax.endElementNs = OnEndElement;
    sax.characters = OnCharacters;
    sax.ignorableWhitespace = OnCharacters;
    sax.cdataBlock = OnCharacters;
    sax.comment = OnName;
    sax.reference = OnName;
    sax.processingInstruction = OnPi;
    sax.getParameterEntity = OnGetParameterEntity;
    sax.externalSubset = nullptr;
    sax.resolveEntity = RefuseEntity;
    sax.serror = OnParserError;
}

struct CtxtDeleter {
    void operator()(xmlParserCtxtPtr c) const { xmlFreeParserCtxt(c); }
};

constexpr int kWorkerNice = 10;

WellFormedResult Stopped() {
    return {WellFormedResult::Status::Stopped, 0, 0, {}};
}

void InitialiseParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

}  // namespace

WellFormedResult CheckWellFormed(std::string_view utf8Text,
                                 const std::function<bool()>& stopRequested) {
    InitialiseParser();
    if (stopRequested && stopRequested()) {
        return Stopped();
    }
    if (utf8Text.size() > std::size_t(INT_MAX)) {
        return {WellFormedResult::Status::Error, 1, 0, "The document is larger than 2 GB."};
    }
    // libxml2 spends quadratic time on one element's attributes, with no
    // callback in between that could stop it.
    if (std::optional<LimitBreach> crowded = FindCrowdedStartTag(utf8Text)) {
        return {WellFormedResult::Status::Error, crowded->line, 0, crowded->reason};
    }
    std::unique_ptr<xmlParserCtxt, CtxtDeleter> ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        throw std::bad_alloc();
    }
    CheckSession session;
    session.stopRequested = &stopRequested;
    session.ctxt = ctxt.get();
    ctxt->_private = &session;
    PrepareHandler(*ctxt->sax);
    ThreadErrorScope scope(&session);
    // No DTDLOAD, NOENT, DTDATTR or DTDVALID: nothing outside the text is read,
    // so the process's entity loader is never called.
    const int options = XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_IGNORE_ENC;
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt.get(), utf8Text.data(), int(utf8Text.size()), nullptr,
                                      nullptr, options);
    const bool wellFormed = doc != nullptr && ctxt->wellFormed != 0;
    const long line = ctxt->input != nullptr ? ctxt->input->line : 0;
    xmlFreeDoc(doc);
    if (session.stopped) {
        return Stopped();
    }
    if (session.first) {
        return *session.first;
    }
    if (!wellFormed) {
        return {WellFormedResult::Status::Error, line, 0, "The document is not well-formed."};
    }
    return {};
}

WellFormedChecker::WellFormedChecker(Deliver deliver, Check check)
    : m_deliver(std::move(deliver)),
      m_check(std::move(check)),
      m_worker([this](std::stop_token token) { Run(token); }) {
    InitialiseParser();  // on the creating thread, before any check: its first call is not
                         // thread-safe
}

WellFormedChecker::~WellFormedChecker() {
    {
        std::lock_guard lock(m_mutex);
        StopCurrentLocked();
        m_pending.reset();
    }
    m_worker.request_stop();
    m_worker.join();
}

void WellFormedChecker::StopCurrentLocked() {
    if (m_running) {
        m_running->store(true);
    }
}

void WellFormedChecker::Start(std::string text, std::uint64_t ticket) {
    {
        std::lock_guard lock(m_mutex);
        StopCurrentLocked();
        m_pending = Job{std::move(text), ticket, std::make_shared<std::atomic<bool>>(false)};
    }
    m_wake.notify_one();
}

void WellFormedChecker::Cancel() {
    std::lock_guard lock(m_mutex);
    StopCurrentLocked();
    m_pending.reset();
}

std::string WellFormedChecker::TakeBuffer() {
    std::lock_guard lock(m_mutex);
    std::string buffer = std::move(m_spare);
    m_spare = std::string();
    return buffer;
}

void WellFormedChecker::Run(std::stop_token token) {
    // Typing goes first when the cores are busy. On Linux the nice value is
    // the thread's own; should it not be lowered, checks merely compete as equals.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kWorkerNice);
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, token, [this] { return m_pending.has_value(); })) {
                return;  // stop requested
            }
            job = std::move(*m_pending);
            m_pending.reset();
            m_running = job.stop;
        }
        const std::atomic<bool>& stop = *job.stop;
        const std::function<bool()> stopRequested = [&stop, &token] {
            return stop.load(std::memory_order_relaxed) || token.stop_requested();
        };
        WellFormedResult result;
        try {
            result = m_check(job.text, stopRequested);
        } catch (const std::exception& e) {
            // No position: the text is not at fault.
            result = {WellFormedResult::Status::Error, 0, 0,
                      std::string("The text could not be checked: ") + e.what()};
        }
        bool stale = false;
        {
            std::lock_guard lock(m_mutex);
            m_running.reset();
            stale = job.stop->load() || token.stop_requested();
            job.text.clear();  // keeps its memory for the next copy
            m_spare = std::move(job.text);
        }
        if (!stale && result.status != WellFormedResult::Status::Stopped) {
            m_deliver(job.ticket, result);
        }
    }
}

}  // namespace quorrel
