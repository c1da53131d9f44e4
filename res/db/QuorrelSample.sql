-- The sample shop behind the data source QuorrelSample: built into
-- BUILD_DIR/samples/QuorrelSample.db at build time and registered by
-- scripts/register-sample-dsn.sh. Try Data Source > Get Xml Data with
-- DSN QuorrelSample and SELECT * FROM products.
PRAGMA encoding = 'UTF-8';

CREATE TABLE products (
  id INTEGER PRIMARY KEY,
  name VARCHAR(60) NOT NULL,
  category VARCHAR(30),
  "unit price" DECIMAL(10,2),
  stock INTEGER,
  code CHAR(8),
  description TEXT,
  picture BLOB
);

INSERT INTO products VALUES
  (1, 'Crème brûlée dish', 'Kitchen', 12.50, 40, 'KI-0001', 'Glazed stoneware, oven-safe.', NULL),
  (2, 'Kaffeemühle', 'Kitchen', 49.90, 7, 'KI-0002', 'Hand grinder with a ceramic burr.', NULL),
  (3, 'Smørrebrød board', 'Kitchen', 24.00, NULL, 'KI-0003', NULL, NULL),
  (4, '東京 tea cups (set of 4)', 'Tableware', 32.00, 15, 'TW-0004',
      'Four cups, hand-painted; dishwasher-safe.', NULL),
  (5, 'Linen napkins', 'Tableware', 18.75, 120, 'TW-0005',
      'Catalogue text: ' || replace(hex(zeroblob(700)), '00', 'Woven in Łódź. '), NULL),
  (6, 'Enamel badge', 'Gifts', 3.20, 500, 'GI-0006', 'A small badge; the picture is a tiny PNG.',
      x'89504E470D0A1A0A0000000D49484452000000010000000108060000001F15C4890000000D4944415478DA63F8FFFF3F0005FE02FEA7D6A4C30000000049454E44AE426082'),
  (7, 'Gift card', 'Gifts', NULL, NULL, 'GI-0007', 'Any amount.', NULL);

CREATE TABLE customers (
  id INTEGER PRIMARY KEY,
  name VARCHAR(60) NOT NULL,
  city VARCHAR(40),
  email VARCHAR(80)
);

INSERT INTO customers VALUES
  (1, 'Ana Müller', 'Zürich', 'ana@example.org'),
  (2, 'Søren Kierkegaard', 'København', NULL),
  (3, 'Zoë O''Neill', 'Dublin', 'zoe@example.org'),
  (4, 'Jiří Novák', 'Brno', NULL);

CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  customer_id INTEGER NOT NULL REFERENCES customers(id),
  ordered_on DATE NOT NULL,
  note TEXT
);

INSERT INTO orders VALUES
  (1, 1, '2024-03-01', NULL),
  (2, 3, '2024-03-04', 'Gift wrap, please.'),
  (3, 2, '2024-03-09', NULL),
  (4, 1, '2024-04-12', 'Leave with the neighbour.');

CREATE TABLE order_items (
  order_id INTEGER NOT NULL REFERENCES orders(id),
  product_id INTEGER NOT NULL REFERENCES products(id),
  quantity INTEGER NOT NULL,
  PRIMARY KEY (order_id, product_id)
);

INSERT INTO order_items VALUES
  (1, 1, 2), (1, 5, 6), (2, 4, 1), (2, 7, 1), (3, 2, 1), (4, 6, 10), (4, 3, 1);
