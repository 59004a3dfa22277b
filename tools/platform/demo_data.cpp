// The schema and the demo store. The demo data should look like a real small
// Korean restaurant, so that the screens, receipts and kitchen tickets of the
// demo and of the end-to-end tests show what a shop would see.

#include "tools/platform/db.h"
#include "tools/platform/pcrypto.h"

#include <ctime>

namespace tillbay::platform {

namespace {

constexpr char k_schema[] = R"SQL(
CREATE TABLE IF NOT EXISTS stores (
  storeidx INTEGER PRIMARY KEY, shopname TEXT NOT NULL, tel TEXT, address TEXT, biznumber TEXT,
  bizname TEXT, tid TEXT, tablecount INTEGER NOT NULL DEFAULT 0, storetype INTEGER NOT NULL DEFAULT 1,
  openstatus INTEGER NOT NULL DEFAULT 1, cancelpolicy INTEGER NOT NULL DEFAULT 1, cancelpin TEXT NOT NULL DEFAULT '',
  ordercounter INTEGER NOT NULL DEFAULT 100);
CREATE TABLE IF NOT EXISTS settings (
  storeidx INTEGER NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (storeidx, name));
CREATE TABLE IF NOT EXISTS accounts (
  useridx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, role TEXT NOT NULL, loginid TEXT NOT NULL UNIQUE,
  salt TEXT NOT NULL, pwhash TEXT NOT NULL, name TEXT NOT NULL, nickname TEXT NOT NULL DEFAULT '',
  devkey TEXT NOT NULL DEFAULT '', deviv TEXT NOT NULL DEFAULT '', useyn TEXT NOT NULL DEFAULT 'Y');
CREATE TABLE IF NOT EXISTS tokens (
  token TEXT PRIMARY KEY, useridx INTEGER NOT NULL, storeidx INTEGER NOT NULL, role TEXT NOT NULL, expires INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS categories (
  categoryidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, ctname TEXT NOT NULL, ordernum INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS menus (
  menuidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, categoryidx INTEGER NOT NULL, mname TEXT NOT NULL,
  price INTEGER NOT NULL, comment TEXT NOT NULL DEFAULT '', photopath TEXT NOT NULL DEFAULT '',
  useyn TEXT NOT NULL DEFAULT 'Y', soldout INTEGER NOT NULL DEFAULT 0, dcrate INTEGER NOT NULL DEFAULT 0,
  ordernum INTEGER NOT NULL DEFAULT 0, deleted INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS option_groups (
  groupidx INTEGER PRIMARY KEY, menuidx INTEGER NOT NULL, gname TEXT NOT NULL, requiredyn TEXT NOT NULL DEFAULT 'N',
  multiselectyn TEXT NOT NULL DEFAULT 'N', useyn TEXT NOT NULL DEFAULT 'Y');
CREATE TABLE IF NOT EXISTS option_items (
  itemidx INTEGER PRIMARY KEY, groupidx INTEGER NOT NULL, iname TEXT NOT NULL, addprice INTEGER NOT NULL DEFAULT 0,
  soldout INTEGER NOT NULL DEFAULT 0, useyn TEXT NOT NULL DEFAULT 'Y');
CREATE TABLE IF NOT EXISTS products (
  productidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, pname TEXT NOT NULL, price INTEGER NOT NULL,
  saleprice INTEGER NOT NULL DEFAULT 0, stock INTEGER NOT NULL DEFAULT 0, comment TEXT NOT NULL DEFAULT '',
  photopath TEXT NOT NULL DEFAULT '', useyn TEXT NOT NULL DEFAULT 'Y', soldout TEXT NOT NULL DEFAULT '0',
  deliveryyn TEXT NOT NULL DEFAULT '1', pickupyn TEXT NOT NULL DEFAULT '1', mallyn TEXT NOT NULL DEFAULT 'N',
  mallcategory TEXT NOT NULL DEFAULT '', shopcat TEXT NOT NULL DEFAULT '', idate INTEGER NOT NULL DEFAULT 0,
  deleted INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS variants (
  variantidx INTEGER PRIMARY KEY, productidx INTEGER NOT NULL, gname TEXT NOT NULL, vname TEXT NOT NULL,
  addprice INTEGER NOT NULL DEFAULT 0, stock INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS product_photos (
  photoidx INTEGER PRIMARY KEY, productidx INTEGER NOT NULL, url TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS reviews (
  reviewidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, type TEXT NOT NULL, productidx INTEGER NOT NULL DEFAULT 0,
  writer TEXT NOT NULL, score INTEGER NOT NULL, content TEXT NOT NULL, reply TEXT NOT NULL DEFAULT '', idate INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS messages (
  msgidx INTEGER PRIMARY KEY, title TEXT NOT NULL, body TEXT NOT NULL, idate INTEGER NOT NULL, readyn TEXT NOT NULL DEFAULT 'N');
CREATE TABLE IF NOT EXISTS promotions (
  promoidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, title TEXT NOT NULL, dcrate INTEGER NOT NULL,
  startdate TEXT NOT NULL, enddate TEXT NOT NULL, isactive TEXT NOT NULL DEFAULT 'Y');
CREATE TABLE IF NOT EXISTS mall_orders (
  buyidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, productidx INTEGER NOT NULL, pname TEXT NOT NULL,
  qty INTEGER NOT NULL, amount INTEGER NOT NULL, buyer TEXT NOT NULL, tel TEXT NOT NULL, address TEXT NOT NULL,
  status INTEGER NOT NULL, courier TEXT NOT NULL DEFAULT '', invoiceno TEXT NOT NULL DEFAULT '',
  couriercode TEXT NOT NULL DEFAULT '', memo TEXT NOT NULL DEFAULT '', idate INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS claims (
  claimidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, buyidx INTEGER NOT NULL, kind TEXT NOT NULL,
  reason TEXT NOT NULL, status TEXT NOT NULL DEFAULT 'requested', rejectreason TEXT NOT NULL DEFAULT '', idate INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS qna (
  qnaidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, productidx INTEGER NOT NULL, writer TEXT NOT NULL,
  question TEXT NOT NULL, answer TEXT NOT NULL DEFAULT '', idate INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS orders (
  orderidx INTEGER PRIMARY KEY, storeidx INTEGER NOT NULL, ordernum TEXT NOT NULL, tablenum INTEGER NOT NULL DEFAULT 0,
  status INTEGER NOT NULL, paystatus INTEGER NOT NULL, prepay INTEGER NOT NULL, ordersrc TEXT NOT NULL,
  pickup INTEGER NOT NULL DEFAULT 0, pickuptime INTEGER NOT NULL DEFAULT 0, pickupready INTEGER NOT NULL DEFAULT 0,
  totalamount INTEGER NOT NULL DEFAULT 0, payamount INTEGER NOT NULL DEFAULT 0, paymethod TEXT NOT NULL DEFAULT '',
  usekjeon INTEGER NOT NULL DEFAULT 0, usemilege INTEGER NOT NULL DEFAULT 0,
  requestmemo TEXT NOT NULL DEFAULT '', tel TEXT NOT NULL DEFAULT '', cooktime INTEGER NOT NULL DEFAULT 0,
  idate INTEGER NOT NULL, udate INTEGER NOT NULL DEFAULT 0, paydate INTEGER NOT NULL DEFAULT 0,
  reqkey TEXT, reqjson TEXT, paytoken TEXT NOT NULL DEFAULT '', payexpire INTEGER NOT NULL DEFAULT 0,
  paygroup TEXT NOT NULL DEFAULT '', qrwait INTEGER NOT NULL DEFAULT 0, mergedinto INTEGER NOT NULL DEFAULT 0,
  cards TEXT NOT NULL DEFAULT '[]');
CREATE UNIQUE INDEX IF NOT EXISTS orders_reqkey ON orders(storeidx, reqkey) WHERE reqkey IS NOT NULL;
CREATE TABLE IF NOT EXISTS order_menus (
  ordermenuidx INTEGER PRIMARY KEY, orderidx INTEGER NOT NULL, menuidx INTEGER NOT NULL DEFAULT 0, mname TEXT NOT NULL,
  qty INTEGER NOT NULL, price INTEGER NOT NULL, comment TEXT NOT NULL DEFAULT '', options TEXT NOT NULL DEFAULT '[]');
-- The order list reads a store's open orders and each one's lines on every
-- push, the day's summary and the history read by day; without these each
-- of them scans the whole history.
CREATE INDEX IF NOT EXISTS orders_store_status ON orders(storeidx, status);
CREATE INDEX IF NOT EXISTS orders_store_idate ON orders(storeidx, idate);
CREATE INDEX IF NOT EXISTS orders_store_paydate ON orders(storeidx, paydate);
CREATE INDEX IF NOT EXISTS order_menus_order ON order_menus(orderidx);
)SQL";

constexpr char const* k_tables[] = { "stores", "settings", "accounts", "tokens", "categories", "menus", "option_groups",
    "option_items", "products", "variants", "product_photos", "reviews", "messages", "promotions", "mall_orders", "claims",
    "qna", "orders", "order_menus" };

void add_account(Db& db, long long useridx, char const* role, char const* loginid, char const* password, char const* name,
    char const* nickname)
{
    std::string salt = random_hex(8);
    db.exec("INSERT INTO accounts (useridx, storeidx, role, loginid, salt, pwhash, name, nickname) VALUES (?,1,?,?,?,?,?,?)",
        { useridx, role, loginid, salt, sha256_hex(salt + ":" + password), name, nickname });
}

struct DemoMenu {
    char const* category;
    char const* name;
    long long price;
    char const* comment;
};

struct DemoLine {
    char const* name;
    int qty;
    char const* options; // JSON array of {optionname, optionprice}
};

} // namespace

void create_schema(Db& db) { db.exec_script(k_schema); }

void seed_demo_data(Db& db)
{
    if (db.query_int("SELECT COUNT(*) FROM stores") > 0)
        return;
    long long now = static_cast<long long>(std::time(nullptr));

    db.exec("INSERT INTO stores (storeidx, shopname, tel, address, biznumber, bizname, tid, tablecount, storetype, cancelpolicy, cancelpin)"
            " VALUES (1,'틸베이 한식당','02-3143-5521','서울특별시 마포구 양화로 45 1층','214-86-53129','김민준','7012345678',12,1,1,'1234')");
    db.exec("INSERT INTO settings (storeidx, name, value) VALUES"
            " (1,'opentime','11:00'),(1,'closetime','21:30'),(1,'breakstart','15:00'),(1,'breakend','16:30'),(1,'holidays','일'),"
            " (1,'bankname','국민은행'),(1,'bankuser','김민준'),(1,'banknumber','123401-04-567890'),"
            " (1,'smscomment','주문이 접수되었습니다. 맛있게 준비할게요!'),(1,'deliveryfee','3000'),(1,'deliveryfree','30000'),"
            " (1,'aisetting','맵기 조절 요청은 주방 메모에 적어 주세요.'),(1,'ceoname','김민준'),(1,'bizno','214-86-53129'),"
            " (1,'mailorderno','2024-서울마포-1234'),(1,'sellerphone','010-2345-6789'),(1,'returnaddr','서울특별시 마포구 양화로 45 1층'),"
            " (1,'deliverydays','2'),(1,'returnfeeinfo','반품 배송비 3,000원'),(1,'lat','37.5563'),(1,'lng','126.9220'),"
            " (1,'biz_mode1','12000'),(1,'biz_mode2','10'),(1,'biz_mode3','2'),(1,'biz_mode4','포장 주문은 15분 뒤에 찾으러 오세요.'),"
            " (1,'benefit','리뷰를 남기시면 음료 한 잔을 드려요')");
    add_account(db, 1001, "staff", "tillbay01", "pos1234!", "카운터", "카운터");
    add_account(db, 1002, "staff", "tillbay02", "pos5678!", "주방", "주방");
    add_account(db, 2001, "owner", "owner01", "owner1234!", "김민준", "민준사장");

    char const* categories[] = { "찌개·탕", "식사", "분식", "음료" };
    for (int i = 0; i < 4; ++i)
        db.exec("INSERT INTO categories (categoryidx, storeidx, ctname, ordernum) VALUES (?,1,?,?)", { 11 + i, categories[i], i + 1 });

    DemoMenu const menus[] = {
        { "찌개·탕", "김치찌개", 9000, "묵은지와 돼지고기로 끓인 찌개" },
        { "찌개·탕", "된장찌개", 8500, "차돌박이 된장찌개" },
        { "찌개·탕", "순두부찌개", 9000, "해물 순두부" },
        { "식사", "제육볶음", 10000, "매콤한 돼지고기 볶음" },
        { "식사", "비빔밥", 9500, "돌솥에 나갑니다" },
        { "식사", "불고기정식", 13000, "" },
        { "분식", "떡볶이", 6000, "" },
        { "분식", "김밥", 4000, "" },
        { "음료", "콜라", 2000, "" },
        { "음료", "사이다", 2000, "" },
    };
    int order = 0;
    for (auto const& m : menus) {
        long long category = db.query_int("SELECT categoryidx FROM categories WHERE ctname=?", { m.category });
        db.exec("INSERT INTO menus (menuidx, storeidx, categoryidx, mname, price, comment, ordernum) VALUES (?,1,?,?,?,?,?)",
            { 101 + order, category, m.name, m.price, m.comment, order + 1 });
        ++order;
    }
    // Option groups: size on the stews and rice dishes, spiciness on the stews.
    auto add_group = [&](long long menuidx, char const* name, char const* required, std::vector<std::pair<char const*, long long>> items) {
        db.exec("INSERT INTO option_groups (menuidx, gname, requiredyn) VALUES (?,?,?)", { menuidx, name, required });
        long long group = db.last_id();
        for (auto const& [iname, price] : items)
            db.exec("INSERT INTO option_items (groupidx, iname, addprice) VALUES (?,?,?)", { group, iname, price });
    };
    for (long long menuidx : { 101, 102, 103 }) {
        add_group(menuidx, "양", "Y", { { "기본", 0 }, { "곱빼기", 2000 } });
        add_group(menuidx, "맵기", "N", { { "순한맛", 0 }, { "보통", 0 }, { "매운맛", 0 } });
    }
    add_group(104, "추가", "N", { { "공기밥 추가", 1000 }, { "계란후라이", 1000 } });
    add_group(105, "추가", "N", { { "공기밥 추가", 1000 } });
    add_group(107, "추가", "N", { { "치즈 추가", 1500 }, { "라면사리", 1000 } });
    // The past comes before today's rows, so that lists numbered by insertion
    // (the notices) keep the newest last.
    seed_demo_history(db, now);

    db.exec("INSERT INTO products (productidx, storeidx, pname, price, saleprice, stock, comment, mallyn, mallcategory, idate) VALUES"
            " (501,1,'수제 김치 1kg',15000,13000,40,'매장에서 직접 담근 포기김치','Y','반찬',?),"
            " (502,1,'된장 500g',9000,0,25,'3년 숙성 된장','Y','장류',?),"
            " (503,1,'참기름 300ml',12000,11000,0,'국산 참깨','N','',?)",
        { now - 86400 * 30, now - 86400 * 20, now - 86400 * 10 });
    db.exec("INSERT INTO variants (productidx, gname, vname, addprice, stock) VALUES (501,'맛','보통',0,20),(501,'맛','매운맛',0,20)");
    db.exec("INSERT INTO reviews (storeidx, type, productidx, writer, score, content, reply, idate) VALUES"
            " (1,'store',0,'맛집탐방러',5,'김치찌개가 정말 맛있어요. 또 올게요!','감사합니다! 또 찾아주세요.',?),"
            " (1,'store',0,'점심직장인',4,'점심시간에 빨리 나와서 좋아요.','',?),"
            " (1,'product',501,'김치러버',5,'김치가 아삭하고 딱 알맞게 익었어요.','',?)",
        { now - 86400 * 3, now - 86400, now - 86400 * 2 });
    // Oldest first: the notice list runs by number, newest on top.
    db.exec("INSERT INTO messages (title, body, idate, readyn) VALUES"
            " ('정산 안내','지난달 정산 금액이 입금되었습니다.',?,'Y'),"
            " ('새 기능 안내','결제 QR 을 여러 주문에 묶어 쓸 수 있게 되었습니다.',?,'Y'),"
            " ('정기 점검 안내','이번 주 수요일 새벽 2시부터 4시까지 서버 점검이 있습니다.',?,'N')",
        { now - 86400 * 9, now - 86400 * 4, now - 3600 * 5 });
    db.exec("INSERT INTO promotions (storeidx, title, dcrate, startdate, enddate, isactive) VALUES"
            " (1,'점심 특가',10,'2026-01-01','2026-12-31','Y')");
    db.exec("INSERT INTO mall_orders (buyidx, storeidx, productidx, pname, qty, amount, buyer, tel, address, status, idate) VALUES"
            " (9001,1,501,'수제 김치 1kg',2,26000,'이서연','010-1111-2222','경기도 성남시 분당구 판교로 10',1,?),"
            " (9002,1,502,'된장 500g',1,9000,'박지훈','010-3333-4444','부산광역시 해운대구 센텀로 5',1,?),"
            " (9003,1,501,'수제 김치 1kg',1,13000,'최유진','010-5555-6666','대전광역시 유성구 대학로 99',2,?)",
        { now - 86400, now - 3600 * 10, now - 86400 * 3 });
    db.exec("UPDATE mall_orders SET courier='CJ대한통운', invoiceno='651234567890', couriercode='04' WHERE buyidx=9003");
    db.exec("INSERT INTO claims (storeidx, buyidx, kind, reason, idate) VALUES (1,9002,'cancel','단순 변심',?)", { now - 3600 * 2 });
    db.exec("INSERT INTO qna (storeidx, productidx, writer, question, idate) VALUES"
            " (1,501,'김치좋아','배송은 며칠 걸리나요?',?)",
        { now - 3600 * 20 });

    // Orders, one for every state the board knows.
    struct DemoOrder {
        int tablenum;
        int status, paystatus, prepay;
        char const* ordersrc;
        int pickup;
        int minutes_ago;
        char const* paymethod;
        char const* memo;
        std::vector<DemoLine> lines;
    };
    std::vector<DemoOrder> const orders = {
        // A table order, deferred payment (pays when leaving).
        { 3, 1, 0, 0, "table", 0, 12, "", "덜 맵게 해 주세요", { { "김치찌개", 2, R"([{"optionname":"곱빼기","optionprice":2000}])" }, { "공깃밥", 0, "[]" }, { "콜라", 1, "[]" } } },
        // A table order paid in advance at the table, cooking.
        { 5, 2, 1, 1, "table", 0, 25, "CARD", "", { { "제육볶음", 1, R"([{"optionname":"계란후라이","optionprice":1000}])" }, { "된장찌개", 1, "[]" } } },
        // A prepaid order still waiting for its payment.
        { 7, 0, 0, 1, "table", 0, 3, "", "", { { "비빔밥", 2, "[]" } } },
        // A takeout order from the map, paid.
        { 0, 1, 1, 1, "map_takeout", 0, 8, "CARD", "수저는 빼 주세요", { { "떡볶이", 1, R"([{"optionname":"치즈 추가","optionprice":1500}])" }, { "김밥", 2, "[]" } } },
        // A pickup order with a reserved time, paid.
        { 0, 1, 1, 1, "map_takeout", 1, 5, "CARD", "6시 반에 찾으러 갑니다", { { "불고기정식", 1, "[]" } } },
        // A table's takeout, paid.
        { 2, 1, 1, 1, "table_takeout", 0, 15, "CARD", "", { { "김밥", 3, "[]" } } },
        // A bare payment without menu lines.
        { 0, 1, 1, 1, "plainpay", 0, 40, "CARD", "", {} },
        // A cancelled table order.
        { 9, 4, 1, 1, "table", 0, 55, "CARD", "", { { "순두부찌개", 1, "[]" } } },
        // An order placed at the counter, deferred.
        { 11, 1, 0, 0, "pos", 0, 20, "", "", { { "된장찌개", 1, "[]" }, { "사이다", 1, "[]" } } },
    };
    long long ordernum = 100;
    for (auto const& o : orders) {
        long long idate = now - o.minutes_ago * 60;
        long long total = o.lines.empty() ? 12000 : 0;
        ++ordernum;
        db.exec("INSERT INTO orders (storeidx, ordernum, tablenum, status, paystatus, prepay, ordersrc, pickup, pickuptime, requestmemo,"
                " idate, paymethod, udate) VALUES (1,?,?,?,?,?,?,?,?,?,?,?,?)",
            { std::to_string(ordernum), o.tablenum, o.status, o.paystatus, o.prepay, o.ordersrc, o.pickup,
                o.pickup ? idate + 45 * 60 : 0, o.memo, idate, o.paymethod, o.status == 4 ? idate + 300 : 0 });
        long long orderidx = db.last_id();
        for (auto const& line : o.lines) {
            if (line.qty <= 0)
                continue;
            auto menu = db.query_one("SELECT menuidx, price FROM menus WHERE mname=?", { line.name });
            long long price = menu.is_null() ? 1000 : menu["price"].get<long long>();
            Json options = Json::parse(line.options);
            for (auto const& opt : options)
                price += opt["optionprice"].get<long long>();
            db.exec("INSERT INTO order_menus (orderidx, menuidx, mname, qty, price, options) VALUES (?,?,?,?,?,?)",
                { orderidx, menu.is_null() ? 0 : menu["menuidx"].get<long long>(), line.name, line.qty, price, options.dump() });
            total += price * line.qty;
        }
        long long paid = o.paystatus == 1 ? total : 0;
        Json cards = Json::array();
        if (o.paystatus == 1 && std::string(o.paymethod) == "CARD") {
            cards.push_back({ { "issueCardName", "신한카드" }, { "cardNoEnc", "4518-42**-****-1234" }, { "installment", "일시불" },
                { "applNo", std::to_string(30000000 + orderidx * 7) }, { "amount", paid },
                { "cancelYN", o.status == 4 ? "Y" : "N" }, { "cancelAmount", o.status == 4 ? paid : 0 },
                { "cancelRefNo", o.status == 4 ? "C" + std::to_string(orderidx) : "" }, { "tranDate", "" }, { "tranTime", "" },
                { "cancelDate", "" }, { "cancelTime", "" } });
        }
        db.exec("UPDATE orders SET totalamount=?, payamount=?, paydate=?, cards=? WHERE orderidx=?",
            { total, paid, o.paystatus == 1 ? idate : 0, cards.dump(), orderidx });
    }
    db.exec("UPDATE stores SET ordercounter=? WHERE storeidx=1", { ordernum });
}

void reset_demo_data(Db& db)
{
    Db::Transaction tx(db);
    for (char const* table : k_tables)
        db.exec(std::string("DELETE FROM ") + table);
    seed_demo_data(db);
    tx.commit();
}

} // namespace tillbay::platform
