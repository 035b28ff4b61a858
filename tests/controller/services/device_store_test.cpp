// Saved machines: the load rules, what is written back, rename, statistics and the sample machines.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "../client/ClientTestSupport.h"
#include "controller/services/DemoDeck.h"
#include "controller/services/DeviceStore.h"

using namespace dovrel::controller;

namespace {
const QString idA = "6F1D2C3B-4A59-4E8F-9D0C-1B2A3F4E5D6C";
const QString idB = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";

struct StoreTest : ::testing::Test {
    dovrel::test::TempDir dir;
    std::shared_ptr<UserDefaults> defaults;
    void SetUp() override {
        test::app();
        defaults = std::make_shared<UserDefaults>(dir.file("DovrelController.ini"));
    }
    void store(const QJsonArray& entries) {
        defaults->setString(DeviceStore::key, QJsonDocument(entries).toJson().toStdString());
    }
    QJsonArray stored() const {
        const auto text = defaults->string(DeviceStore::key);
        return text ? QJsonDocument::fromJson(QByteArray::fromStdString(*text)).array() : QJsonArray();
    }
    static QJsonObject entry(const QString& id, const QString& name, const char* kind = "mac") {
        return {{"id", id}, {"name", name}, {"host", "10.0.0.5"}, {"kind", kind}};
    }
    std::unique_ptr<DeviceStore> load() { return std::make_unique<DeviceStore>(defaults, false); }
};
} // namespace

TEST_F(StoreTest, NothingStoredGivesAnEmptyDeckAndWritesNothing) {
    EXPECT_EQ(load()->count(), 0);
    EXPECT_FALSE(defaults->string(DeviceStore::key));
    // Storage that is not a list of machines at all is left alone.
    defaults->setString(DeviceStore::key, "[{\"id\":1}, 5]");
    EXPECT_EQ(load()->count(), 0);
    EXPECT_EQ(*defaults->string(DeviceStore::key), "[{\"id\":1}, 5]");
}

TEST_F(StoreTest, BadEntriesAreDroppedAndStorageRewritten) {
    QJsonObject badMac = entry(QUuid::createUuid().toString(QUuid::WithoutBraces), "Kept", "linux");
    badMac.insert("mac", 7);
    store({entry(idA, "Office"), entry(idB, "OFFICE"), entry(idB, "Caps", "Mac"), entry("{" + idB + "}", "Braced"),
           QJsonObject(), QJsonObject{{"id", idB}, {"name", "No host"}, {"kind", "mac"}}, badMac});
    const auto s = load();
    ASSERT_EQ(s->count(), 2);
    EXPECT_EQ(s->devices()[0].name, "Office");
    EXPECT_EQ(s->devices()[1].name, "Kept");
    EXPECT_FALSE(s->devices()[1].mac);
    EXPECT_EQ(stored().size(), 2);
}

TEST_F(StoreTest, StateAndLastSeenAfterLoading) {
    QJsonObject relay = entry(idA, "Relay");
    relay.insert("deviceId", "");
    store({relay, entry(idB, "Lan")});
    const auto s = load();
    EXPECT_EQ(s->devices()[0].state, Device::State::awake);
    EXPECT_EQ(s->devices()[1].state, Device::State::asleep);
    EXPECT_EQ(s->devices()[0].lastSeen, "paired");
    EXPECT_EQ(s->devices()[1].lastSeen, "paired");
    // Nothing was dropped: storage is not rewritten (the lower-case id keeps its case there).
    EXPECT_EQ(stored()[1].toObject()["id"].toString(), idB);
}

TEST_F(StoreTest, ASavedListReadsBackWithUpperCaseIdsAndNoEmptyKeys) {
    auto s = load();
    Device full;
    full.name = "Full";
    full.kind = Device::Kind::windows;
    full.mac = "aa:bb:cc:dd:ee:ff";
    full.deviceId = "0123456789abcdef0123456789abcdef";
    full.relayAccount = "team";
    full.relayToken = "tok";
    full.relayHost = "relay.example:9443";
    Device bare;
    bare.name = "Bare";
    s->putFirst(bare);
    s->putFirst(full);
    ASSERT_TRUE(s->save());
    const QJsonObject first = stored()[0].toObject(), second = stored()[1].toObject();
    EXPECT_EQ(first["id"].toString(), full.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(second.keys(), (QStringList{"host", "id", "kind", "name"}));
    const auto again = load();
    ASSERT_EQ(again->count(), 2);
    const Device& read = again->devices()[0];
    EXPECT_EQ(read.id, full.id);
    EXPECT_EQ(read.kind, Device::Kind::windows);
    EXPECT_EQ(read.mac, full.mac);
    EXPECT_EQ(read.relayToken, full.relayToken);
    EXPECT_EQ(read.relayHost, full.relayHost);
    // It holds relay tokens: owner only.
    struct stat st {};
    ASSERT_EQ(::stat(defaults->path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(StoreTest, Rename) {
    store({entry(idA, "Office"), entry(idB, "Studio")});
    auto s = load();
    const QUuid a = s->devices()[0].id;
    EXPECT_TRUE(s->rename(a, "  Den \n"));
    EXPECT_EQ(stored()[0].toObject()["name"].toString(), "Den");
    const QByteArray before = QByteArray::fromStdString(*defaults->string(DeviceStore::key));
    EXPECT_FALSE(s->rename(a, " \n\t"));
    // Taking another machine's name would lose one of them at the next load.
    EXPECT_FALSE(s->rename(a, "STUDIO"));
    EXPECT_EQ(QByteArray::fromStdString(*defaults->string(DeviceStore::key)), before);
    EXPECT_EQ(s->devices()[0].name, "Den");
}

TEST_F(StoreTest, StatisticsGoToTheFirstMatchAndKeepTheLast24) {
    auto s = load();
    std::vector<Device> list(3);
    list[0].name = "One";
    list[2].name = "Three";
    list[2].deviceId = "room3";
    s->setDevices(list);
    s->applyStats("One", QString("room3"), 0.5, 0.25, std::nullopt);
    EXPECT_EQ(s->devices()[0].cpu, std::vector<double>{0.5});
    EXPECT_TRUE(s->devices()[2].cpu.empty());
    for (int i = 0; i < 30; ++i)
        s->applyStats("Three", std::nullopt, i, 2.0, 0.4);
    const Device& three = s->devices()[2];
    ASSERT_EQ(three.cpu.size(), 24u);
    EXPECT_EQ(three.cpu.front(), 6);
    EXPECT_EQ(three.cpu.back(), 29);
    EXPECT_EQ(three.ram, 2.0); // unclamped
    EXPECT_EQ(three.battery, 0.4);
    EXPECT_TRUE(three.statsCurrent);
    // The session ended: nothing of it stays as the machine's load now, and the next one starts afresh.
    s->statsEnded(three.id);
    EXPECT_FALSE(s->devices()[2].statsCurrent);
    EXPECT_TRUE(s->devices()[2].cpu.empty());
    EXPECT_FALSE(s->devices()[2].battery);
    EXPECT_EQ(s->applyStats("Nobody", std::nullopt, 0.1, 0.1, std::nullopt), std::nullopt);
}

TEST_F(StoreTest, DemoMachines) {
    EXPECT_TRUE(DeviceStore::isDemo({"app", "-DovrelDemo"}, *defaults));
    EXPECT_FALSE(DeviceStore::isDemo({"app"}, *defaults));
    defaults->setString("DovrelDemo", "true");
    EXPECT_TRUE(DeviceStore::isDemo({"app"}, *defaults));
    DeviceStore demo(defaults, true);
    ASSERT_EQ(demo.count(), 3);
    EXPECT_EQ(demo.devices()[1].kind, Device::Kind::windows);
    EXPECT_EQ(demo.devices()[2].state, Device::State::offline);
    EXPECT_EQ(demo.devices()[2].cpu, std::vector<double>(24, 0.02));
    EXPECT_NEAR(demo.devices()[0].cpu[0], 0.34 + 0.22 * std::sin(6 * 0.34), 1e-12);
    EXPECT_FALSE(defaults->string(DeviceStore::key)); // not saved
    EXPECT_EQ(demo.devices()[0].host, "10.0.0.4");
    EXPECT_EQ(demo.devices()[1].mac, "aa:bb:cc:dd:ee:02");

    // The demo deck of a "-demo" launch is the sample set itself: reached on this computer, never woken.
    const auto deck = DemoDeck::devices();
    ASSERT_EQ(deck.size(), 3u);
    EXPECT_EQ(deck[0].host, "127.0.0.1");
    EXPECT_EQ(deck[1].host, "10.0.0.7");
    for (const Device& d : deck) {
        EXPECT_FALSE(d.mac);
        EXPECT_FALSE(d.deviceId);
        EXPECT_TRUE(d.statsCurrent);
    }
    EXPECT_EQ(deck[0].cpu, demo.devices()[0].cpu);
    EXPECT_NE(DemoDeck::devices()[0].id, deck[0].id);
}
