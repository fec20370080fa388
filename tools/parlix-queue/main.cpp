// parlix-queue: the side of the outside software that fills the message queue. It creates a
// queue database, enqueues messages and reports the queue, using the database password.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/date_time.h"
#include "base/file.h"
#include "base/text.h"
#include "csv.h"
#include "db/connection.h"
#include "db/db_error.h"
#include "db/file_queue.h"
#include "db/message_queue.h"
#include "db/open_database.h"
#include "db/pg_connection.h"
#include "db/shared_queue.h"

namespace parlix {
namespace {

constexpr const char* kUsage =
    "usage: parlix-queue COMMAND [--db FILE|URL] [--password TEXT] ...\n"
    "  create                      create a new, empty queue database\n"
    "  upgrade                     add the columns and index the program uses, as its \"Alter "
    "Databse\" button does\n"
    "  enqueue MOBILE TEXT         queue one message\n"
    "  import FILE.csv             queue every record of a CSV file (mobile,message), all or "
    "none\n"
    "  count [--status S]          rows per status, or the rows of one status\n"
    "  list [--status S] [--limit N]  rows, newest last\n"
    "--db defaults to ./SMSDB.MDB; a postgresql:// URL or a libpq \"key=value\" connection\n"
    "string names a shared queue instead. --password is the database file's password, by\n"
    "default the program's own;\n"
    "a lone -- ends the options, for a TEXT that starts with --.\n"
    "  --help, --version           this text, or the version\n"
    "exit codes: 0 done; 2 the database, the file or the queue refused it; 64 bad options.\n";

struct Options {
    std::string command;
    std::string db = "SMSDB.MDB";
    std::string password = kDatabasePassword;
    std::string status;
    long limit = 100;
    std::vector<std::string> args;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw UsageError(a + " needs a value");
            }
            return argv[++i];
        };
        if (a == "--db") {
            o.db = value();
        } else if (a == "--password") {
            o.password = value();
        } else if (a == "--status") {
            o.status = value();
        } else if (a == "--limit") {
            std::string v = value();
            char* end = nullptr;
            o.limit = std::strtol(v.c_str(), &end, 10);
            if (*end != '\0' || o.limit <= 0) {
                throw UsageError("--limit needs a positive whole number");
            }
        } else if (a == "-h" || a == "--help") {
            o.command = "help";
        } else if (a == "--version") {
            o.command = "version";
        } else if (a == "--") {
            o.args.insert(o.args.end(), argv + i + 1, argv + argc);
            break;
        } else if (a.rfind("--", 0) == 0) {
            throw UsageError("unknown option " + a);
        } else if (o.command.empty()) {
            o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    static const char* const kCommands[] = {"create", "upgrade", "enqueue", "import",
                                            "count",  "list",    "help",    "version"};
    if (std::find(std::begin(kCommands), std::end(kCommands), o.command) == std::end(kCommands)) {
        throw UsageError(o.command.empty() ? "no command given" : "unknown command " + o.command);
    }
    return o;
}

std::unique_ptr<MessageQueue> openQueue(const Options& o) {
    if (isPostgresTarget(o.db)) {
        auto shared = std::make_unique<SharedQueue>(std::make_unique<PgConnection>(o.db, 60000),
                                                    "parlix-queue", 300);
        shared->open();
        return shared;
    }
    const std::string path = findFileIgnoringCase(o.db);
    auto db = std::make_unique<Connection>();
    db->openFile(path, o.password);
    return std::make_unique<FileQueue>(std::move(db), folderOf(path));
}

Value textOrNull(const std::string& text) {
    return text.empty() ? Value() : Value(text);
}

int importCsv(MessageQueue& queue, const std::string& file) {
    std::string content;
    try {
        content = readFile(file);
    } catch (const FileError& e) {
        std::cerr << "parlix-queue: " << e.what() << "\n";
        return 2;
    }
    auto records = parseCsv(content);
    if (!records) {
        std::cerr << "parlix-queue: " << file << ", " << records.error().message
                  << "; nothing was queued\n";
        return 2;
    }
    std::vector<CsvRecord> rows = records.value();
    if (!rows.empty() && rows[0].fields.size() == 2 && iequals(rows[0].fields[0], "mobileno") &&
        iequals(rows[0].fields[1], "message")) {
        rows.erase(rows.begin());
    }
    std::vector<std::pair<Value, Value>> messages;
    for (const CsvRecord& r : rows) {
        if (r.fields.size() != 2) {
            std::cerr << "parlix-queue: " << file << ", line " << r.line << ": expected 2 fields "
                      << "(mobile,message), found " << r.fields.size() << "; nothing was queued\n";
            return 2;
        }
        messages.emplace_back(Value(r.fields[0]), textOrNull(r.fields[1]));
    }
    queue.enqueueAll(messages);  // one transaction: queued whole or not at all
    std::cout << "queued " << rows.size() << " messages\n";
    return 0;
}

int run(const Options& o) {
    // A connection string may hold a password: it is never echoed.
    const std::string name = isPostgresTarget(o.db) ? "the shared queue" : o.db;
    if (o.command == "create" && !isPostgresTarget(o.db)) {
        auto db = createDatabaseFile(o.db, o.password);
        FileQueue(*db, folderOf(o.db)).createTables();
        std::cout << "created " << name << "\n";
        return 0;
    }
    auto queue = openQueue(o);
    if (o.command == "create" || o.command == "upgrade") {
        o.command == "create" ? queue->createTables() : queue->upgradeSchema();
        std::cout << o.command << "d " << name << "\n";
        return 0;
    }
    if (o.command == "enqueue") {
        if (o.args.size() != 2) {
            throw UsageError("enqueue needs MOBILE and TEXT");
        }
        queue->enqueue(Value(o.args[0]), textOrNull(o.args[1]));
        std::cout << "queued 1 message\n";
        return 0;
    }
    if (o.command == "import") {
        if (o.args.size() != 1) {
            throw UsageError("import needs one CSV file");
        }
        return importCsv(*queue, o.args[0]);
    }
    std::optional<std::string> status;
    if (!o.status.empty()) {
        status = o.status;
    }
    if (o.command == "count") {
        if (status) {
            std::cout << queue->count(status) << "\n";
            return 0;
        }
        long total = 0;
        for (const auto& [text, n] : queue->countByStatus()) {
            std::cout << (text.empty() ? "(none)" : text) << "\t" << n << "\n";
            total += n;
        }
        std::cout << "total\t" << total << "\n";
        return 0;
    }
    if (o.command == "list") {
        for (const QueueRow& row : queue->list(status, o.limit)) {
            std::cout << row.id << "\t" << row.status << "\t" << row.mobile << "\t" << row.message
                      << "\n";
        }
        return 0;
    }
    throw UsageError(o.command.empty() ? "no command given" : "unknown command " + o.command);
}

}  // namespace
}  // namespace parlix

int main(int argc, char** argv) {
    try {
        parlix::Options o = parlix::parse(argc, argv);
        if (o.command == "help") {
            std::cout << parlix::kUsage;
            return 0;
        }
        if (o.command == "version") {
            std::cout << "parlix-queue " << PARLIX_VERSION << "\n";
            return 0;
        }
        return parlix::run(o);
    } catch (const parlix::UsageError& e) {
        std::cerr << "parlix-queue: " << e.what() << "\n" << parlix::kUsage;
        return 64;
    } catch (const parlix::DbError& e) {
        std::cerr << "parlix-queue: database error " << e.number() << ": " << e.description()
                  << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "parlix-queue: " << e.what() << "\n";
        return 2;
    }
}
