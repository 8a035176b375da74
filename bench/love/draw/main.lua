-- Draws N filled circles, N filled 16x16 rectangles, N 32x32 images, N turned 16x16 parts of the
-- image or N 40-character texts a frame (workload and N from the command line) at the same places
-- as the engine's side of draw_bench; the "off-" workloads 1000 pixels right of the window. After
-- 20 warm-up frames it counts frames for the given seconds, prints "love-fps F" and quits.
local workload, count, seconds = "circles", 1000, 2
local image, part, font
local TEXT = "The quick brown fox jumps over a lazy do"
local bench = require("unthrottled")  -- love.run without its sleep; countFrame

function love.load(args)
  workload = args[1] or workload
  count = tonumber(args[2]) or count
  seconds = tonumber(args[3]) or seconds
  image = love.graphics.newImage("sprite.png")
  part = love.graphics.newQuad(8, 8, 16, 16, 32, 32)
  -- love.filesystem cannot open absolute paths: read the face with io and hand LÖVE the bytes
  local file = assert(io.open("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "rb"))
  local bytes = file:read("*a")
  file:close()
  font = love.graphics.newFont(love.filesystem.newFileData(bytes, "DejaVuSans.ttf"), 16)
  love.graphics.setFont(font)
end

function love.draw()
  local g = love.graphics
  if workload == "circles" then
    g.setColor(200 / 255, 120 / 255, 40 / 255, 1)
    for i = 1, count do g.circle("fill", (i * 7) % 608 + 16, (i * 13) % 448 + 16, 10, 31) end
  elseif workload == "rectangles" then
    g.setColor(40 / 255, 200 / 255, 120 / 255, 1)
    for i = 1, count do g.rectangle("fill", (i * 7) % 608, (i * 13) % 448, 16, 16) end
  elseif workload == "off-images" then
    for i = 1, count do g.draw(image, (i * 7) % 608 + 1000, (i * 13) % 448) end
  elseif workload == "off-parts" then
    local rad = math.rad
    for i = 1, count do g.draw(image, part, (i * 7) % 608 + 1008, (i * 13) % 448 + 8, rad(i % 360), 1, 1, 8, 8) end
  elseif workload == "off-text" then
    for i = 0, count - 1 do g.print(TEXT, (i * 7) % 300 + 1000, 20 + (i % 28) * 16) end
  else
    for i = 1, count do g.draw(image, (i * 7) % 608, (i * 13) % 448) end
  end
  g.setColor(1, 1, 1, 1)
  bench.countFrame(seconds)
end
