#pragma once
// The figures of the comparison, one function each, and the closing table.

#include <memory>
#include <string>
#include <vector>

#include "firer.h"
#include "sides.h"
#include "testbed/server_config.h"

namespace bench {

struct Options {
    std::string prefix = varnel_test::kFirebird3Default;
    std::string keys;  // appended to Varnel's connection string
    int runs = 50;     // figures 1, 2 and 6
    int firings = 200;
    int burst = 2000;
    int bursts = 3;
    std::vector<int> fanout = {1, 10, 50, 100};
    int fanoutFirings = 20;
    int resourceConnections = 100;
    int cpuRounds = 5;
    int cpuFirings = 10;  // per round, each to every connection
    int idleConnections = 10;
    int idleSeconds = 5;
    std::vector<int> figures = {1, 2, 3, 4, 5, 6, 7, 8};
    // The options as given, handed on to the child processes.
    std::vector<std::string> given;
};

// One line of the table: the samples of both clients.
struct Row {
    explicit Row(std::string text, int places = 3) : label(std::move(text)), decimals(places) {}
    std::string label;
    std::vector<double> varnel;
    std::vector<double> client;
    int decimals = 3;
};

struct Bench {
    Bench(const Options& o, const varnel_test::TestServerConfig& s) : options(o), server(s) {}

    const Options& options;
    const varnel_test::TestServerConfig& server;
    std::unique_ptr<VarnelSide> varnel;
    std::unique_ptr<ClientSide> client;
    std::vector<Row> rows;
    int failures = 0;

    Side& SideAt(int i) { return i == 0 ? static_cast<Side&>(*varnel) : *client; }
    // The firing process, started on first use (it holds the database open).
    Firer* FiringProcess();
    void Fail(const std::string& what);

private:
    std::unique_ptr<Firer> firer_;
};

void ConnectFigure(Bench& b);
void SubscribeFigure(Bench& b);
void OneAtATimeFigure(Bench& b);
void BurstFigure(Bench& b);
void FanOutFigure(Bench& b);
void DisconnectFigure(Bench& b);
void ResourceFigure(Bench& b);
void IdleFigure(Bench& b);
void PrintTable(const Bench& b);

// The child processes of figures 7 and 8, each with one client: side is "varnel" or
// "client".
int ResourceChild(const Options& options, const varnel_test::TestServerConfig& server,
                  const std::string& side);
int IdleChild(const Options& options, const varnel_test::TestServerConfig& server,
              const std::string& side);

}  // namespace bench
