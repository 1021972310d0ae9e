-- pandoc filter for the user's guide (docs/CMakeLists.txt runs it):
--  * "@VERSION@", "@PACKAGE_VERSION@" and "@BRIDGE_IDS@" in text, code and link targets become
--    the build's values, given as metadata (version, package-version, bridge-ids);
--  * what stands before the first chapter becomes the metadata field "intro", which the
--    template shows on the title page above the contents;
--  * a link with no text to a chapter or section, [](#id), reads "chapter N" or "section N.M",
--    numbered as --number-sections numbers the headings, so references follow a reordering.

local values = {}

local function substitute(text)
  return (text:gsub("@([A-Z_]+)@", function(name)
    return values[name]
  end))
end

local function fill(meta)
  for name, key in pairs({VERSION = "version", PACKAGE_VERSION = "package-version",
                          BRIDGE_IDS = "bridge-ids"}) do
    if meta[key] == nil then
      error("guide.lua: the metadata field " .. key .. " is not set")
    end
    values[name] = pandoc.utils.stringify(meta[key])
  end
end

-- Numbers of the numbered headings of levels 1 and 2, by identifier.
local function number_headings(blocks)
  local numbers, counts = {}, {0, 0}
  for _, block in ipairs(blocks) do
    if block.t == "Header" and block.level <= 2 and not block.classes:includes("unnumbered") then
      counts[block.level] = counts[block.level] + 1
      if block.level == 1 then
        counts[2] = 0
        numbers[block.identifier] = "chapter " .. counts[1]
      else
        numbers[block.identifier] = "section " .. counts[1] .. "." .. counts[2]
      end
    end
  end
  return numbers
end

function Pandoc(doc)
  fill(doc.meta)
  local numbers = number_headings(doc.blocks)
  local missing = {}
  doc = doc:walk({
    Str = function(s) s.text = substitute(s.text); return s end,
    Code = function(c) c.text = substitute(c.text); return c end,
    CodeBlock = function(c) c.text = substitute(c.text); return c end,
    Link = function(link)
      link.target = substitute(link.target)
      if #link.content == 0 and link.target:sub(1, 1) == "#" then
        local number = numbers[link.target:sub(2)]
        if number == nil then
          table.insert(missing, link.target)
        else
          link.content = {pandoc.Str(number)}
          link.classes:insert("xref")
        end
      end
      return link
    end,
  })
  if #missing > 0 then
    error("guide.lua: no numbered chapter or section for " .. table.concat(missing, ", "))
  end

  local intro = {}
  while #doc.blocks > 0 and not (doc.blocks[1].t == "Header" and doc.blocks[1].level == 1) do
    table.insert(intro, table.remove(doc.blocks, 1))
  end
  doc.meta.intro = pandoc.MetaBlocks(intro)
  return doc
end
