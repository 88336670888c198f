-- Load script for wrk: POSTs "search" requests exactly as the plug-in
-- sends them, cycling through a mix of search texts for the generated world
-- (generate --seed 7).
--
--   wrk -t1 -c8 -d10s --latency -s search.lua http://127.0.0.1:PORT
--
-- WRK_MIX chooses the mix:
--   prefix    (the default) single letters, word prefixes, whole words,
--             two-word searches and searches that match nothing
--   misspelt  names' words with a letter missing, added, wrong or swapped
--             (one or two edits), alone or beside a correct word, and
--             misspellings of nothing, which the prefix search cannot find
--   zipf      WRK_TEXTS (default 20 000) distinct texts made from the
--             world's own names (WRK_NAMES: its places.csv): prefixes of 1
--             to 8 letters, whole words, two words, whole names, misspelt
--             words and texts that match nothing, asked with a Zipf-like
--             popularity (exponent WRK_ZIPF, default 1.1: a few texts very
--             often, most seldom), as players ask. WRK_SEED (default 7)
--             chooses the texts and their order; the same seed gives the
--             same texts.
-- Set WRK_SEARCH to one search text to measure only that one.

local prefix_texts = {
  "a", "m",
  "kar", "bel", "thal", "vel", "dor", "grim", "quel", "yth",
  "karan", "belor", "thalith", "ostin", "zarur",
  "crypt", "mine", "falls", "outpost", "ruins", "old", "upper",
  "kar%20crypt", "vel%20mine", "old%20dor", "grey%20bel%20ruins",
  "harnethorn", "quelormoor", "ralarridge", "istrewood",
  "nothingmatches", "zzz",
}

local misspelt_texts = {
  -- Words of 8 letters or more, one or two edits.
  "varanrigde", "quelafel", "halanmrk", "dorrormere", "loranmor", "eskarwach",
  "istradthron", "varomgrad", "dorithvael", "moranthron", "torinrige", "belomark",
  "velithmer", "grimadmeer", "fenisted", "karnmere",
  -- Words of 4 to 7 letters, one edit.
  "oriwik", "ulevael", "orihld", "oraferd", "vaulr", "shrien", "towr", "sanctun",
  -- Beside a correct word, or both misspelt.
  "varanrigde%20falls", "loranmor%20tower", "deep%20grimadmer", "hlanmark%20ruins",
  "oriwik%20brige",
  -- Nothing is near.
  "xyzzyplugh", "qqqqwwww", "brumblefrotz",
}

-- The first field of each line of a CSV file after its header.
local function first_fields(path)
  local names = {}
  local file = assert(io.open(path, "r"), "cannot read WRK_NAMES " .. tostring(path))
  file:read("*l")
  for line in file:lines() do
    local name
    if line:sub(1, 1) == '"' then
      name = line:match('^"(.-)"[,]') or ""
      name = name:gsub('""', '"')
    else
      name = line:match("^([^,]*)")
    end
    if name ~= "" then names[#names + 1] = name end
  end
  file:close()
  return names
end

local function encoded(text)
  return (text:gsub("[^%w%-%._~]", function(c) return string.format("%%%02X", c:byte()) end))
end

local letters = "abcdefghijklmnopqrstuvwxyz"
local function random_letter() local i = math.random(#letters) return letters:sub(i, i) end

-- One edit of `word`: a letter dropped, added, changed or two swapped.
local function misspelt(word)
  local i = math.random(#word)
  local kind = math.random(4)
  if kind == 1 then return word:sub(1, i - 1) .. word:sub(i + 1) end
  if kind == 2 then return word:sub(1, i) .. random_letter() .. word:sub(i + 1) end
  if kind == 3 then return word:sub(1, i - 1) .. random_letter() .. word:sub(i + 1) end
  if i == #word then i = i - 1 end
  return word:sub(1, i - 1) .. word:sub(i + 1, i + 1) .. word:sub(i, i) .. word:sub(i + 2)
end

local function zipf_texts()
  local names = first_fields(assert(os.getenv("WRK_NAMES"), "WRK_MIX=zipf needs WRK_NAMES"))
  local count = tonumber(os.getenv("WRK_TEXTS") or "20000")
  math.randomseed(tonumber(os.getenv("WRK_SEED") or "7"))
  local function words_of(name)
    local words = {}
    for word in name:lower():gmatch("%w+") do words[#words + 1] = word end
    return words
  end
  local function any_word()
    local words = words_of(names[math.random(#names)])
    return words[math.random(#words)]
  end
  local chosen, seen = {}, {}
  local tries = 0
  while #chosen < count and tries < count * 50 do
    tries = tries + 1
    local roll, text = math.random(100), nil
    local word = any_word()
    if roll <= 35 then
      text = word:sub(1, math.random(math.min(8, #word)))
    elseif roll <= 55 then
      text = word
    elseif roll <= 72 then
      text = word .. " " .. any_word():sub(1, math.random(2, 8))
    elseif roll <= 82 then
      text = names[math.random(#names)]
    elseif roll <= 95 then
      if #word >= 5 then text = misspelt(word) end
    else
      local nothing = {}
      for _ = 1, math.random(5, 10) do nothing[#nothing + 1] = random_letter() end
      text = "q" .. table.concat(nothing) .. "x"
    end
    if text and not seen[text] then
      seen[text] = true
      chosen[#chosen + 1] = encoded(text)
    end
  end
  return chosen
end

local texts = prefix_texts
local mix = os.getenv("WRK_MIX")
if mix == "misspelt" then texts = misspelt_texts end
if mix == "zipf" then texts = zipf_texts() end
local only = os.getenv("WRK_SEARCH")
if only and only ~= "" then texts = { only } end

-- Built in init, when wrk has set the Host header the service requires
-- (at the script's top level it has not yet).
local requests = {}
init = function(args)
  for i, text in ipairs(texts) do
    requests[i] = wrk.format("POST", "/marlgate_travels/travel.php",
      { ["Host"] = wrk.headers["Host"],
        ["Content-Type"] = "application/x-www-form-urlencoded",
        ["X-Plugin-Name"] = "Marlgate_Travels",
        ["X-Plugin-Version"] = "1.0.2" },
      "&travel_action=search&Value=" .. text ..
      "&currentcharacter=Ann%20Lee&random= .7055475")
  end
end

-- Zipf: rank k (the order the texts were made in) is asked with a weight
-- of 1 / k^exponent; `cumulative` holds the running sums for a binary search.
local cumulative = nil
if mix == "zipf" then
  local exponent = tonumber(os.getenv("WRK_ZIPF") or "1.1")
  cumulative = {}
  local sum = 0
  for k = 1, #texts do
    sum = sum + 1 / k ^ exponent
    cumulative[k] = sum
  end
  for k = 1, #texts do cumulative[k] = cumulative[k] / sum end
end

local function zipf_index()
  local u = math.random()
  local low, high = 1, #cumulative
  while low < high do
    local middle = math.floor((low + high) / 2)
    if cumulative[middle] < u then low = middle + 1 else high = middle end
  end
  return low
end

local next_index = 0
request = function()
  if cumulative then return requests[zipf_index()] end
  next_index = next_index % #requests + 1
  return requests[next_index]
end

response = function(status, headers, body)
  if status ~= 200 or not body:find("<search ", 1, true) then
    print("unexpected reply " .. status .. ": " .. body:sub(1, 200))
  end
end
