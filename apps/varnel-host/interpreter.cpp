#include "interpreter.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

namespace varnelhost {

// A parsed expression: a literal, a variable, a function call or a join (+).
struct Expr {
    enum Kind { kLiteral, kVariable, kCall, kJoin };
    Kind kind = kLiteral;
    Value literal;
    std::string name;        // variable as written; function in upper case
    std::vector<Expr> args;  // call arguments; the two operands of a join
};

struct Statement {
    enum Kind {
        kNothing,
        kPrint,
        kAssign,
        kEvaluate,
        kRun,
        kReadEvents,
        kClearEvents,
        kDoEvents,
        kQuit
    };
    Kind kind = kNothing;
    std::string name;         // the assigned variable, in upper case
    std::vector<Expr> exprs;  // printed values; the assigned or evaluated value; seconds
    std::string command;      // RUN's shell command
};

namespace {

// The statement cannot be parsed; nothing of it has run.
struct SyntaxError {
    std::string reason;
};

// A statement failed while it ran; line is what the host prints for it.
struct RuntimeError {
    std::string line;
};

RuntimeError HostError(const std::string& message) {
    return RuntimeError{"Error: " + message};
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

struct Token {
    enum Kind { kEnd, kName, kNumber, kString, kSymbol };
    Kind kind = kEnd;
    std::string text;  // the name or digits as written, the string's contents, the symbol
};

std::vector<Token> Tokenize(const std::string& line) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (IsBlank(c)) {
            ++i;
        } else if (c == '&' && i + 1 < line.size() && line[i + 1] == '&') {
            break;  // the rest of the line is a comment
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t end = i;
            while (end < line.size() &&
                   (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '_')) {
                ++end;
            }
            tokens.push_back(Token{Token::kName, line.substr(i, end - i)});
            i = end;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            size_t end = i;
            while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) {
                ++end;
            }
            tokens.push_back(Token{Token::kNumber, line.substr(i, end - i)});
            i = end;
        } else if (c == '"' || c == '\'' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const size_t end = line.find(close, i + 1);
            if (end == std::string::npos) {
                throw SyntaxError{std::string("missing closing ") + close};
            }
            tokens.push_back(Token{Token::kString, line.substr(i + 1, end - i - 1)});
            i = end + 1;
        } else if (std::string("()+-,=?").find(c) != std::string::npos) {
            tokens.push_back(Token{Token::kSymbol, std::string(1, c)});
            ++i;
        } else {
            throw SyntaxError{std::string("unexpected character '") + c + "'"};
        }
    }
    tokens.push_back(Token{Token::kEnd, ""});
    return tokens;
}

class Parser {
public:
    Parser(std::vector<Token> tokens, std::function<bool(const std::string&)> isFunction)
        : tokens_(std::move(tokens)), isFunction_(std::move(isFunction)) {}

    const Token& Peek(size_t ahead = 0) const {
        return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
    }
    bool PeekSymbol(char symbol, size_t ahead = 0) const {
        return Peek(ahead).kind == Token::kSymbol && Peek(ahead).text[0] == symbol;
    }
    bool PeekWord(const char* word, size_t ahead = 0) const {
        return Peek(ahead).kind == Token::kName && Upper(Peek(ahead).text) == word;
    }
    bool AtEnd() const { return Peek().kind == Token::kEnd; }
    bool Accept(char symbol) {
        if (!PeekSymbol(symbol)) {
            return false;
        }
        ++pos_;
        return true;
    }
    void Expect(char symbol) {
        if (!Accept(symbol)) {
            throw Unexpected(std::string("'") + symbol + "'");
        }
    }
    std::string TakeName() { return tokens_[pos_++].text; }
    void ExpectEnd() {
        if (!AtEnd()) {
            throw Unexpected("the end of the statement");
        }
    }

    // expr := term { '+' term }
    Expr Expression() {
        Expr left = Term();
        while (Accept('+')) {
            Expr join;
            join.kind = Expr::kJoin;
            join.args.push_back(std::move(left));
            join.args.push_back(Term());
            left = std::move(join);
        }
        return left;
    }

private:
    SyntaxError Unexpected(const std::string& wanted) const {
        const Token& token = Peek();
        if (token.kind == Token::kEnd) {
            return SyntaxError{"the statement ends where " + wanted + " was expected"};
        }
        const std::string shown =
            token.kind == Token::kString ? "\"" + token.text + "\"" : token.text;
        return SyntaxError{"unexpected " + shown + " where " + wanted + " was expected"};
    }

    // term := string | ['-'] number | name | name '(' [expr {',' expr}] ')' | '(' expr ')'
    Expr Term() {
        Expr expr;
        const Token& token = Peek();
        if (token.kind == Token::kString) {
            expr.literal = Value::String(token.text);
            ++pos_;
        } else if (token.kind == Token::kNumber ||
                   (PeekSymbol('-') && Peek(1).kind == Token::kNumber)) {
            const bool negative = Accept('-');
            const std::string& digits = Peek().text;
            ++pos_;
            int64_t value = 0;
            for (char d : digits) {
                value = value * 10 + (d - '0');
                if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
                    throw SyntaxError{"the number " + digits + " is too large"};
                }
            }
            value = negative ? -value : value;
            if (value > std::numeric_limits<int32_t>::max()) {
                throw SyntaxError{"the number " + digits + " is too large"};
            }
            expr.literal = Value::Integer(static_cast<int32_t>(value));
        } else if (Accept('(')) {
            expr = Expression();
            Expect(')');
        } else if (token.kind == Token::kName) {
            const std::string name = TakeName();
            if (!Accept('(')) {
                expr.kind = Expr::kVariable;
                expr.name = name;
                return expr;
            }
            expr.kind = Expr::kCall;
            expr.name = Upper(name);
            if (!isFunction_(expr.name)) {
                throw SyntaxError{"unknown function " + name};
            }
            if (!Accept(')')) {
                do {
                    expr.args.push_back(Expression());
                } while (Accept(','));
                Expect(')');
            }
        } else {
            throw Unexpected("a value");
        }
        return expr;
    }

    std::vector<Token> tokens_;
    std::function<bool(const std::string&)> isFunction_;
    size_t pos_ = 0;
};

// The first word of text (after blanks) when it is `word`, case ignored, followed
// by a blank or the end; then *rest is what follows it.
bool StartsWithWord(const std::string& text, const char* word, std::string* rest) {
    const std::string upperWord(word);
    if (Upper(text.substr(0, upperWord.size())) != upperWord ||
        (text.size() > upperWord.size() && !IsBlank(text[upperWord.size()]))) {
        return false;
    }
    *rest = text.substr(upperWord.size());
    return true;
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && (IsBlank(text[end - 1]) || text[end - 1] == '\r')) {
        --end;
    }
    return text.substr(begin, end - begin);
}

Statement ParseStatement(const std::string& line,
                         const std::function<bool(const std::string&)>& isFunction) {
    Statement statement;
    const std::string text = Trim(line);
    std::string rest;
    if (text.empty() || text[0] == '*' || text.compare(0, 2, "&&") == 0) {
        return statement;
    }
    if (text[0] == '!') {
        rest = text.substr(1);  // ! is the short form of RUN
    }
    if (text[0] == '!' || StartsWithWord(text, "RUN", &rest)) {
        statement.kind = Statement::kRun;
        statement.command = Trim(rest);
        if (statement.command.empty()) {
            throw SyntaxError{"RUN needs a command"};
        }
        return statement;
    }
    Parser parser(Tokenize(text), isFunction);
    if (parser.Accept('?')) {
        statement.kind = Statement::kPrint;
        if (!parser.AtEnd()) {
            do {
                statement.exprs.push_back(parser.Expression());
            } while (parser.Accept(','));
        }
    } else if (parser.Accept('=')) {
        statement.kind = Statement::kEvaluate;
        statement.exprs.push_back(parser.Expression());
    } else if (parser.Peek().kind == Token::kName && parser.PeekSymbol('=', 1)) {
        statement.kind = Statement::kAssign;
        statement.name = Upper(parser.TakeName());
        parser.Accept('=');
        statement.exprs.push_back(parser.Expression());
    } else if (parser.PeekWord("READ") || parser.PeekWord("CLEAR")) {
        const bool read = parser.PeekWord("READ");
        parser.TakeName();
        if (!parser.PeekWord("EVENTS")) {
            throw SyntaxError{read ? "READ needs EVENTS" : "CLEAR needs EVENTS"};
        }
        parser.TakeName();
        statement.kind = read ? Statement::kReadEvents : Statement::kClearEvents;
        if (read && !parser.AtEnd()) {
            statement.exprs.push_back(parser.Expression());
        }
    } else if (parser.PeekWord("DOEVENTS") || parser.PeekWord("QUIT")) {
        statement.kind = parser.PeekWord("QUIT") ? Statement::kQuit : Statement::kDoEvents;
        parser.TakeName();
    } else {
        const bool call = parser.Peek().kind == Token::kName && parser.PeekSymbol('(', 1);
        if (!call) {
            throw SyntaxError{"unrecognized command verb"};
        }
        statement.kind = Statement::kEvaluate;
        statement.exprs.push_back(parser.Expression());
    }
    parser.ExpectEnd();
    return statement;
}

// The host's own functions, with their argument types as in the library's table.
struct Builtin {
    const char* name;
    const char* types;
};
constexpr Builtin kBuiltins[] = {{"CHR", "I"}, {"REPLICATE", "CI"}, {"GETENV", "C"}, {"VAL", "C"}};

// Strings longer than this are refused (REPLICATE), as the desktop language does.
constexpr size_t kMaxString = 16u * 1024 * 1024;

// Checks count and types of args against a type string such as "CCCC.I".
void CheckArguments(const std::string& name, const char* types, const std::vector<Value>& args) {
    size_t required = 0;
    std::string letters;
    for (const char* p = types; *p != '\0'; ++p) {
        if (*p == '.') {
            required = letters.size();
        } else {
            letters += *p;
        }
    }
    if (std::string(types).find('.') == std::string::npos) {
        required = letters.size();
    }
    if (args.size() < required || args.size() > letters.size()) {
        std::string expected = std::to_string(required);
        if (required != letters.size()) {
            expected += " to " + std::to_string(letters.size());
        }
        throw HostError(name + " expects " + expected +
                        (letters.size() == 1 ? " argument" : " arguments") + ", not " +
                        std::to_string(args.size()) + ".");
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const bool text = letters[i] == 'C';
        if (args[i].kind != (text ? Value::kString : Value::kInteger)) {
            throw HostError("Argument " + std::to_string(i + 1) + " of " + name + " must be " +
                            (text ? "a string." : "an integer."));
        }
    }
}

int32_t CheckedInteger(int64_t value) {
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        throw HostError("Numeric overflow.");
    }
    return static_cast<int32_t>(value);
}

// VAL: leading blanks, an optional sign, then digits up to the first other character.
int32_t ParseLeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i++] == '-';
    }
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        CheckedInteger(negative ? -value : value);
    }
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

Value Value::Integer(int32_t value) {
    Value v;
    v.kind = kInteger;
    v.integer = value;
    return v;
}

Value Value::String(std::string text) {
    Value v;
    v.kind = kString;
    v.text = std::move(text);
    return v;
}

Value Value::True() {
    return Value();
}

std::string FormatValue(const Value& value) {
    switch (value.kind) {
        case Value::kInteger:
            return std::to_string(value.integer);
        case Value::kString:
            return value.text;
        case Value::kLogical:
            break;
    }
    return ".T.";
}

Interpreter::Interpreter(SimHost& host, std::ostream& out) : host_(host), out_(out) {
    runShell = [this](const std::string& command) {
        out_.flush();
        std::fflush(stdout);
        return std::system(command.c_str());
    };
    host_.onExecute = [this](const std::string& command) { ExecuteHostCommand(command); };
}

Interpreter::~Interpreter() {
    host_.onExecute = nullptr;
}

int Interpreter::ExitStatus() const {
    return hadSyntaxError_ ? 2 : hadError_ ? 1 : 0;
}

void Interpreter::PrintLine(const std::string& text) {
    out_ << text << '\n';
    out_.flush();
}

bool Interpreter::Interrupted() {
    return interrupted && interrupted();
}

void Interpreter::ExecuteHostCommand(const std::string& command) {
    if (quit_) {
        return;
    }
    if (clearEvents_) {
        deferred_.push_back(command);
        return;
    }
    ExecuteLine(command, kFromLibrary);
}

void Interpreter::ExecuteLine(const std::string& line, int lineNumber) {
    // Nothing may escape: this also runs inside the library's window procedure.
    try {
        if (echo && lineNumber == kFromLibrary) {
            PrintLine("[event] " + line);
        }
        Statement statement;
        try {
            statement = ParseStatement(
                line, [this](const std::string& name) { return IsKnownFunction(name); });
        } catch (const SyntaxError& error) {
            hadSyntaxError_ = true;
            PrintLine(lineNumber == kFromLibrary
                          ? "Syntax error in event command " + line + ": " + error.reason
                          : "Syntax error in line " + std::to_string(lineNumber) + ": " +
                                error.reason);
            return;
        }
        Perform(statement);
    } catch (const RuntimeError& error) {
        hadError_ = true;
        // Messages made of the server's status end each of their lines already.
        const std::string& text = error.line;
        const bool ended = !text.empty() && text.back() == '\n';
        PrintLine(ended ? text.substr(0, text.size() - 1) : text);
    } catch (const std::exception& error) {
        hadError_ = true;
        PrintLine(std::string("Error: ") + error.what());
    }
}

void Interpreter::Perform(const Statement& statement) {
    switch (statement.kind) {
        case Statement::kNothing:
            return;
        case Statement::kPrint: {
            std::string line;
            for (size_t i = 0; i < statement.exprs.size(); ++i) {
                line += (i > 0 ? " " : "") + FormatValue(Evaluate(statement.exprs[i]));
            }
            PrintLine(line);
            return;
        }
        case Statement::kAssign: {
            Value value = Evaluate(statement.exprs[0]);
            variables_[statement.name] = std::move(value);
            return;
        }
        case Statement::kEvaluate:
            Evaluate(statement.exprs[0]);
            return;
        case Statement::kRun:
            out_.flush();
            runShell(statement.command);
            return;
        case Statement::kReadEvents: {
            if (statement.exprs.empty()) {
                ReadEvents(false, 0);
                return;
            }
            const Value seconds = Evaluate(statement.exprs[0]);
            if (seconds.kind != Value::kInteger) {
                throw HostError("READ EVENTS needs a number of seconds.");
            }
            ReadEvents(true, seconds.integer);
            return;
        }
        case Statement::kClearEvents:
            clearEvents_ = readDepth_ > 0;
            return;
        case Statement::kDoEvents:
            RunDeferred();
            host_.Pump(0);
            return;
        case Statement::kQuit:
            quit_ = true;
            deferred_.clear();
            return;
    }
}

Value Interpreter::Evaluate(const Expr& expr) {
    switch (expr.kind) {
        case Expr::kLiteral:
            return expr.literal;
        case Expr::kVariable: {
            const auto found = variables_.find(Upper(expr.name));
            if (found == variables_.end()) {
                throw HostError("Variable '" + expr.name + "' is not found.");
            }
            return found->second;
        }
        case Expr::kJoin: {
            const Value left = Evaluate(expr.args[0]);
            const Value right = Evaluate(expr.args[1]);
            if (left.kind == Value::kString && right.kind == Value::kString) {
                return Value::String(left.text + right.text);
            }
            if (left.kind == Value::kInteger && right.kind == Value::kInteger) {
                return Value::Integer(CheckedInteger(int64_t{left.integer} + right.integer));
            }
            throw HostError("Operator/operand type mismatch.");
        }
        case Expr::kCall:
            break;
    }
    std::vector<Value> args;
    for (const Expr& arg : expr.args) {
        args.push_back(Evaluate(arg));
    }
    return CallFunction(expr.name, args);
}

Value Interpreter::CallFunction(const std::string& name, const std::vector<Value>& args) {
    if (const hostabi::FunctionEntry* entry = FindLibraryFunction(name)) {
        return CallLibrary(*entry, args);
    }
    for (const Builtin& builtin : kBuiltins) {
        if (name == builtin.name) {
            CheckArguments(name, builtin.types, args);
        }
    }
    if (name == "CHR") {
        if (args[0].integer < 0 || args[0].integer > 255) {
            throw HostError("CHR() needs a character code from 0 to 255.");
        }
        return Value::String(std::string(1, static_cast<char>(args[0].integer)));
    }
    if (name == "REPLICATE") {
        const size_t times = static_cast<size_t>(std::max(args[1].integer, 0));
        if (times != 0 && args[0].text.size() > kMaxString / times) {
            throw HostError("String is too long to fit.");
        }
        std::string text;
        for (size_t i = 0; i < times; ++i) {
            text += args[0].text;
        }
        return Value::String(std::move(text));
    }
    if (name == "GETENV") {
        const char* value = std::getenv(args[0].text.c_str());
        return Value::String(value != nullptr ? value : "");
    }
    return Value::Integer(ParseLeadingInteger(args[0].text));  // VAL
}

Value Interpreter::CallLibrary(const hostabi::FunctionEntry& entry,
                               const std::vector<Value>& args) {
    CheckArguments(entry.name, entry.parameterTypes, args);
    std::vector<SimHost::Arg> hostArgs;
    for (const Value& arg : args) {
        hostArgs.push_back(arg.kind == Value::kString ? SimHost::Arg::Text(arg.text)
                                                      : SimHost::Arg::Int(arg.integer));
    }
    const SimHost::Result result = host_.Call(entry.name, hostArgs);
    if (result.status == hostabi::kStatusBadRequest) {
        throw HostError(std::string("The library refused the call of ") + entry.name + ".");
    }
    if (result.raised) {
        if (result.error.empty() && result.errorNumber != 0) {
            throw RuntimeError{"Error " + std::to_string(result.errorNumber)};
        }
        throw HostError(result.error);
    }
    if (result.hasValue && result.value.type == 'I') {
        return Value::Integer(result.value.intValue);
    }
    if (result.hasValue && result.value.type == 'H') {
        return Value::String(result.text);
    }
    return Value::True();  // a function that sets no result gives .T.
}

const hostabi::FunctionEntry* Interpreter::FindLibraryFunction(const std::string& upperName) const {
    const hostabi::FunctionTable* table = host_.Table();
    for (int i = 0; table != nullptr && i < table->entryCount; ++i) {
        const hostabi::FunctionEntry& entry = table->entries[i];
        // The load and unload hooks are the host's to call, not the program's.
        if (entry.parameterCount >= 0 && Upper(entry.name) == upperName) {
            return &entry;
        }
    }
    return nullptr;
}

bool Interpreter::IsKnownFunction(const std::string& upperName) const {
    for (const Builtin& builtin : kBuiltins) {
        if (upperName == builtin.name) {
            return true;
        }
    }
    return FindLibraryFunction(upperName) != nullptr;
}

void Interpreter::ReadEvents(bool limited, int32_t seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(std::max(seconds, 0));
    ++readDepth_;
    clearEvents_ = false;
    RunDeferred();
    while (!clearEvents_ && !quit_ && !Interrupted()) {
        uint32_t sliceMs = 100;  // short slices, so that an interrupt is noticed
        if (limited) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                break;
            }
            sliceMs = static_cast<uint32_t>(std::min<int64_t>(left.count(), sliceMs));
        }
        host_.Pump(sliceMs);
    }
    --readDepth_;
    clearEvents_ = false;
}

void Interpreter::RunDeferred() {
    while (!deferred_.empty() && !clearEvents_ && !quit_) {
        const std::string command = deferred_.front();
        deferred_.pop_front();
        ExecuteLine(command, kFromLibrary);
    }
}

void Interpreter::Run(std::istream& in, const std::function<void()>& prompt) {
    std::string line;
    int number = 0;
    while (!quit_) {
        if (prompt) {
            prompt();
        }
        if (!std::getline(in, line)) {
            break;
        }
        ++number;
        const std::string text = Trim(line);
        if (echo && !text.empty()) {
            PrintLine(text[0] == '*' || text.compare(0, 2, "&&") == 0 ? text : "> " + text);
        }
        ExecuteLine(line, number);
        if (Interrupted()) {
            break;
        }
    }
}

}  // namespace varnelhost
